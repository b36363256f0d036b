#include "subg/serial_parser.h"

#include <pthread.h>
#include "platform/log.h"

#include <cerrno>

#include "platform/heartbeat.h"
#include "platform/timing.h"
#include "subg/link_buffers.h"
#include "subg/request_queue.h"

T7734FrameReply BoardMsg;

namespace {

constexpr int kHeaderBytes = 4;
constexpr int kLockRetryMicros = 500;
// Chunks wake the parser at once; this only bounds its wait for the next
// one, whether the queue is empty or holds the start of a frame (only a
// chunk can complete it).
constexpr long long kChunkWaitMicros = 1000000;
constexpr int kIncompleteFrame = 1;

int SerialParserLoopCounter = 0;
ReplyDispatch Dispatch;  // set before the thread starts, read-only after

const char* LockErrorText(int rc) {
    switch (rc) {
        case EINVAL: return "mutex is not an initialized mutex";
        case EFAULT: return "mutex is an invalid pointer";
        default: return "Unknown error!";
    }
}

// Takes the whole frame at p (length bytes are there) into BoardMsg.
// Returns false, with the reason logged, when it is not a valid frame.
bool TakeInFrame(const uint8_t* p, int length) {
    // A zero length byte would be a frame of no bytes: taking it in moves
    // nothing, and the pass would spin on it for ever holding TxMutex.
    if (length >= kFrameOverhead && ReplyFromWire(p, static_cast<size_t>(length), &BoardMsg) == length) return true;
    if (length < kFrameOverhead) {
        LogLine(LOG_DEBUG, "SerialParser: Message length too short %d", length);
    } else {
        LogLine(LOG_DEBUG, "SerialParser: Calculated CS = %x, Received CS = %x Message bad format!",
               WireChecksum(p, static_cast<size_t>(length)), p[length - 1]);
    }
    return false;
}

// The board acknowledges settings with a reply of their opcode. The frame's
// length and checksum were good, so the stream is in step: skipping just this
// frame keeps the tag messages that follow it in the same chunk.
ReplyResult DispatchReply(const T7734FrameReply& reply) {
    ReplyHandler handler = Dispatch.handlers[reply.opcode];
    if (handler) return handler(reply);
    LogLine(LOG_DEBUG, "SerialParser: no handler for opcode %d, frame skipped", reply.opcode);
    return kFrameTaken;
}

}  // namespace

void SetReplyDispatch(const ReplyDispatch& dispatch) { Dispatch = dispatch; }

int ParseInboundQueue() {
    while (InboundUnconsumed() > 0) {
        int unconsumed = InboundUnconsumed();
        const uint8_t* p = InboundReadPos();
        // The rest of the frame has not arrived yet: look again with the next chunk.
        if (unconsumed < kHeaderBytes || p[0] > unconsumed) return kIncompleteFrame;
        int length = p[0];
        if (!TakeInFrame(p, length)) break;
        MoveInboundReadPos(length);
        LowerInboundCount(length);
        RMSubGRequest(BoardMsg);
        if (DispatchReply(BoardMsg) == kDiscardQueue) break;
    }
    // Whatever is left behind a bad frame is out of step: drop it.
    RewindInbound();
    return 0;
}

void FinishParserPass() {
    if (Dispatch.afterPass) Dispatch.afterPass();
}

void* SerialParser(void*) {
    for (;;) {
        Heartbeat(&SerialParserLoopCounter, kSerialHeartbeatPasses, "SerialParser is alive!!!");
        int rc = pthread_mutex_trylock(&TxMutex);
        if (rc != 0) {
            if (rc != EBUSY) LogLine(LOG_ERR, "SerialParser: Could not lock mutex (%s)", LockErrorText(rc));
            MicroSecSleep(kLockRetryMicros);
            continue;
        }
        bool idle = InboundUnconsumed() <= 0;
        int incomplete = idle ? (RewindInbound(), 0) : ParseInboundQueue();
        pthread_mutex_unlock(&TxMutex);
        if (!idle) FinishParserPass();
        if (idle || incomplete) WaitForInboundChunk(kChunkWaitMicros);
    }
    return nullptr;
}
