// The console thread: the start-up procedure, then the maintenance menu.
#pragma once

void* CmdParseLineProc(void*);
