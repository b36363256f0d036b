// Dispatch of a checked reply frame (in BoardMsg) to its handler by opcode.
#pragma once

// kFrameTaken, or kDiscardQueue for an unknown opcode or a handler that
// found the frame malformed.
int DispatchReply();
