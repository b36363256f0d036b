// The serial parser thread: cuts the inbound queue into reply frames, checks
// them, settles the request each answers and hands each to its handler.
#pragma once

#include "subg/frame.h"
#include "subg/reply.h"

// The frame being handled; valid until the next frame is taken in.
extern T7734FrameReply BoardMsg;

// Installs the handlers by opcode; called once before the parser starts.
void SetReplyDispatch(const ReplyDispatch& dispatch);

void* SerialParser(void*);

// One pass over the inbound queue; the caller holds TxMutex. Returns 1 when
// the queue ends in an incomplete frame that waits for the next chunk,
// else 0.
int ParseInboundQueue();

// What follows a pass once TxMutex is free again (the dispatch's afterPass).
void FinishParserPass();
