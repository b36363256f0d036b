// The transmit slot (one request on its way to the board) and the inbound
// byte queue (gathered bytes on their way to the parser). One lock,
// TxMutex, guards both; the serial path takes it only with trylock.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "subg/frame.h"

constexpr int kLinkBufferSize = 32768;
constexpr int kSendMsgAttempts = 129;
constexpr int kResetRequestPauseMicros = 3000000;

extern pthread_mutex_t TxMutex;

// Puts a request into the transmit slot. Gives up (the frame is lost) when
// the lock is busy or the slot is taken for kSendMsgAttempts attempts.
// Returns 1 in all cases.
int SendMsg(const T7734FrameRequest& frame);

// Writes the frame in the slot to the serial port and frees the slot.
// Returns 0 when the lock was busy, 1 otherwise.
int CheckMsgInQ();

// The same two steps for a handler running inside the parser, which already
// holds TxMutex (a plain mutex: taking it again would deadlock).
void SendMsgHoldingLock(const T7734FrameRequest& frame);
void CheckMsgInQHoldingLock();

// Appends a gathered chunk to the inbound queue. The caller holds TxMutex.
// A chunk that does not fit beside the unconsumed bytes is dropped whole.
// Returns 1 if the chunk was queued, 0 if it was dropped.
int PutMsgInQ(const uint8_t* bytes, int n);

// The parser's side of the inbound queue, under TxMutex. The handlers lower
// the unconsumed count as they consume; the parser moves the read position
// over whole frames, and rewinds the queue whenever it is empty.
void LowerInboundCount(int n);
void MoveInboundReadPos(int n);
void RewindInbound();

// The parser sleeps until a chunk is queued instead of waking every half
// millisecond. The listener signals once it has released TxMutex, so that
// the parser does not wake into a busy lock.
void SignalInboundChunk();
// True when a chunk was signalled, false after micros without one.
bool WaitForInboundChunk(long long micros);

// Inbound queue state, read under TxMutex.
int InboundUnconsumed();          // MsgLen
const uint8_t* InboundReadPos();  // MsgBufPtr
int InboundTail();                // MsgTail

// Transmit slot state, read under TxMutex.
int TxSlotLength();               // TxMsgLen

// True while a frame waits in the slot; read without the lock, so that the
// listener's look never makes the parser's trylock fail.
bool TxSlotHoldsFrame();
