// Dispatch of a checked reply frame (in BoardMsg) to its handler by opcode.
#pragma once

// kFrameTaken, or kDiscardQueue for a handler that found the frame
// malformed. A reply without a handler is skipped alone.
int DispatchReply();
