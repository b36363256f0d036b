#include "subg/link_buffers.h"

#include "platform/log.h"
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/reset_line.h"
#include "subg/opcodes.h"
#include "subg/display_setting.h"
#include "subg/serial_listener.h"
#include "platform/timing.h"
#include "platform/wake_signal.h"
#include "subg/uart_faults.h"

pthread_mutex_t TxMutex = PTHREAD_MUTEX_INITIALIZER;

namespace {

uint8_t TxBuffer[kLinkBufferSize];
int TxMsgLen = 0;  // 0: slot free
// Follows TxMsgLen for the listener, which looks without taking the lock.
std::atomic<bool> TxSlotTaken{false};

uint8_t MsgBuff[kLinkBufferSize];
int MsgLen = 0;    // bytes not yet consumed by the parser
int MsgTail = 0;   // where the next chunk goes
uint8_t* MsgBufPtr = MsgBuff;

WakeSignal InboundChunk;

// Moves the unconsumed bytes to the start of the queue so that a chunk
// that fits beside them also fits before the end of the buffer.
void CompactInbound() {
    if (MsgBufPtr == MsgBuff) return;
    if (MsgLen > 0) std::memmove(MsgBuff, MsgBufPtr, static_cast<size_t>(MsgLen));
    MsgBufPtr = MsgBuff;
    MsgTail = MsgLen > 0 ? MsgLen : 0;
}

void WriteSlotLocked() {
    if (TxMsgLen <= 0) return;
    ssize_t written = write(SerialFd, TxBuffer, static_cast<size_t>(TxMsgLen));
    if (written <= 0) {
        IncUARTCommFault();
        LogLine(LOG_ERR, "CheckMsgInQ: writeResult = %d", static_cast<int>(written));
    } else if (TxBuffer[3] == SubGOp::ResetBoard) {
        // The lock stays held: the parser takes no bytes in while the
        // board restarts.
        HWResetSubGBoard();
        MicroSecSleep(kResetRequestPauseMicros);
    }
    TxMsgLen = 0;
    TxSlotTaken = false;
}

// The slot takes a frame only when it is free; the caller holds TxMutex.
bool FillSlotLocked(const T7734FrameRequest& frame) {
    if (TxMsgLen != 0) return false;
    TxMsgLen = static_cast<int>(RequestToWire(frame, TxBuffer, sizeof(TxBuffer)));
    TxSlotTaken = TxMsgLen > 0;
    return true;
}

}  // namespace

int SendMsg(const T7734FrameRequest& frame) {
    for (int attempt = 0; attempt < kSendMsgAttempts; ++attempt) {
        if (pthread_mutex_trylock(&TxMutex) != 0) continue;
        bool filled = FillSlotLocked(frame);
        pthread_mutex_unlock(&TxMutex);
        if (filled) return 1;
    }
    return 1;
}

int CheckMsgInQ() {
    if (pthread_mutex_trylock(&TxMutex) != 0) return 0;
    WriteSlotLocked();
    pthread_mutex_unlock(&TxMutex);
    return 1;
}

void SendMsgHoldingLock(const T7734FrameRequest& frame) { FillSlotLocked(frame); }

void CheckMsgInQHoldingLock() { WriteSlotLocked(); }

int PutMsgInQ(const uint8_t* bytes, int n) {
    if (n <= 0) return 0;
    if (kLinkBufferSize - MsgLen < n) {
        LogLine(LOG_ERR, "PutMsgInQ: inbound queue full (%d bytes unconsumed), %d bytes dropped", MsgLen, n);
        return 0;
    }
    if (MsgTail + n > kLinkBufferSize) CompactInbound();
    std::memcpy(MsgBuff + MsgTail, bytes, static_cast<size_t>(n));
    MsgTail += n;
    MsgLen += n;
    // A line per chunk costs more than the chunk itself: only while the
    // technician asks for the link's details.
    if (DisplaySettings) LogLine(LOG_DEBUG, "PutMsgInQ: %d bytes queued", n);
    return 1;
}

void LowerInboundCount(int n) { MsgLen = n >= MsgLen ? 0 : MsgLen - n; }

void MoveInboundReadPos(int n) {
    long room = static_cast<long>(MsgTail) - (MsgBufPtr - MsgBuff);
    MsgBufPtr += n > room ? room : (n < 0 ? 0 : n);
}

void RewindInbound() {
    MsgBufPtr = MsgBuff;
    MsgTail = 0;
    MsgLen = 0;
}

void SignalInboundChunk() { InboundChunk.Raise(); }

bool WaitForInboundChunk(long long micros) { return InboundChunk.WaitFor(micros); }

int InboundUnconsumed() { return MsgLen; }
const uint8_t* InboundReadPos() { return MsgBufPtr; }
int InboundTail() { return MsgTail; }
int TxSlotLength() { return TxMsgLen; }

bool TxSlotHoldsFrame() { return TxSlotTaken; }
