// The serial parser thread: cuts the inbound queue into reply frames, checks
// them, settles the request each answers and dispatches them by opcode.
#pragma once

#include <atomic>
#include <cstdint>

#include "subg/frame.h"

// The frame being handled; valid until the next frame is taken in.
extern T7734FrameReply BoardMsg;
// Handlers' read position within BoardMsg's data.
extern int ReadIndex;
// 1 while ".//display_setting" is fresh: the reply handlers log what they get.
extern std::atomic<uint8_t> DisplaySettings;
// Directory of the CSV logs: "/home" when it exists at start, else "/tmp".
extern char LogDir[16];

// Data bytes of BoardMsg. A handler that needs more than this returns
// kDiscardQueue: it never reads past the frame.
int BoardMsgDataLen();

// What a handler returns: the frame was taken, or everything queued behind
// it must be dropped (the stream is out of step).
constexpr int kFrameTaken = 0;
constexpr int kDiscardQueue = -1;

void* SerialParser(void*);

// One pass over the inbound queue; the caller holds TxMutex. Returns the
// microseconds to wait before the next pass.
int ParseInboundQueue();
