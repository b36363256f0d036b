// What a reply handler is: it gets one checked reply frame from the parser
// and says whether the stream behind it may still be trusted. The handlers
// live with the subsystems they serve; the table that maps opcodes to them
// is built where the modules are wired together and handed to the parser.
#pragma once

#include <array>
#include <cstdint>

#include "subg/frame.h"

// The frame was taken, or everything queued behind it must be dropped (the
// stream is out of step). A handler that needs more data bytes than the
// frame has returns kDiscardQueue: it never reads past the frame.
enum ReplyResult : int { kFrameTaken = 0, kDiscardQueue = -1 };

using ReplyHandler = ReplyResult (*)(const T7734FrameReply& reply);

struct ReplyDispatch {
    // By opcode; nullptr: no handler, the frame is skipped alone.
    std::array<ReplyHandler, 256> handlers{};
    // Runs after every pass over the inbound queue, once TxMutex is free
    // again: the place for what the handlers left to write to disk.
    void (*afterPass)() = nullptr;
};
