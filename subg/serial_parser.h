// The serial parser thread: cuts the inbound queue into reply frames and
// dispatches them by opcode.
#pragma once

void* SerialParser(void*);
