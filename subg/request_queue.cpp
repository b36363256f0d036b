#include "subg/request_queue.h"

#include "platform/log.h"

#include <cstring>
#include <list>
#include <mutex>

#include "platform/clock.h"
#include "platform/reset_line.h"
#include "subg/opcodes.h"
#include "subg/serial_listener.h"
#include "platform/timing.h"

namespace {

struct AwaitedSt {
    T7734FrameRequest frame;
    time_t sentAt;
};

// Bounds the pending list of a board that stays away for ever; the periodic
// questions are de-duplicated, so only a flood of distinct requests hits it.
constexpr size_t kMaxPendingRequests = 512;
constexpr int kQueueResetPulseMicros = 50000;
constexpr int kAfterQueueResetMicros = 500000;

std::mutex SubGReqListMutex;
std::list<T7734FrameRequest> SubGBoardReqList;  // under SubGReqListMutex
std::list<AwaitedSt> ReqWaitingList;            // under SubGReqListMutex

// The new frame duplicates a queued one when the opcode matches and its data
// are a prefix of the queued one's (its own length decides).
bool IsDuplicate(const T7734FrameRequest& queued, const T7734FrameRequest& fresh) {
    if (OpcodeKey(queued) != OpcodeKey(fresh)) return false;
    size_t n = fresh.length >= kFrameOverhead ? static_cast<size_t>(fresh.length - kFrameOverhead) : 0;
    return std::memcmp(queued.data, fresh.data, n) == 0;
}

bool AlreadyQueued(const T7734FrameRequest& frame) {
    for (const auto& queued : SubGBoardReqList) {
        if (IsDuplicate(queued, frame)) return true;
    }
    for (const auto& awaited : ReqWaitingList) {
        if (IsDuplicate(awaited.frame, frame)) return true;
    }
    return false;
}

void PulseForResetRequest() {
    PulseResetLine(kQueueResetPulseMicros);
    MicroSecSleep(kAfterQueueResetMicros);
}

// False when the request is a duplicate or the list is full.
bool QueueRequest(T7734FrameRequest frame) {
    std::lock_guard<std::mutex> lock(SubGReqListMutex);
    frame.checksum = CalcCSReq(frame);
    if (AlreadyQueued(frame)) return false;
    if (SubGBoardReqList.size() >= kMaxPendingRequests) {
        LogLine(LOG_ERR, "AddSubGRequest: %zu requests pending, opcode %d dropped", SubGBoardReqList.size(),
               frame.opcode);
        return false;
    }
    SubGBoardReqList.push_back(frame);
    return true;
}

}  // namespace

void AddSubGRequest(T7734FrameRequest frame) {
    // The listener sleeps until something is due; it sends the request at
    // the next silence.
    if (QueueRequest(frame)) WakeSerialListener();
}

int GetNextSubGBReq(T7734FrameRequest* out) {
    std::lock_guard<std::mutex> lock(SubGReqListMutex);
    time_t now = NowSeconds();
    if (!SubGBoardReqList.empty()) {
        // Hazard: the pulse and the pause after it (0.55 s) run under the
        // list lock, so every thread that queues a request meanwhile waits,
        // the parser among them with TxMutex held. It stays here so that the
        // request's send time is taken after the board has restarted.
        if (OpcodeKey(SubGBoardReqList.front()) == SubGOp::ResetBoard) PulseForResetRequest();
        *out = SubGBoardReqList.front();
        SubGBoardReqList.pop_front();
        out->checksum = CalcCSReq(*out);
    } else {
        // Nothing goes out while the oldest awaited request may still be answered.
        if (ReqWaitingList.empty() || now - ReqWaitingList.front().sentAt <= kReplyTimeoutSeconds) return 0;
        *out = ReqWaitingList.front().frame;
        ReqWaitingList.pop_front();
    }
    if (!SubGOp::IsTagFirmwareBlock(OpcodeKey(*out))) ReqWaitingList.push_back({*out, NowSeconds()});
    return 1;
}

void RMSubGRequest(const T7734FrameReply& reply) {
    std::lock_guard<std::mutex> lock(SubGReqListMutex);
    uint32_t key = OpcodeKey(reply);
    for (auto it = ReqWaitingList.begin(); it != ReqWaitingList.end(); ++it) {
        if (OpcodeKey(it->frame) == key) {
            ReqWaitingList.erase(it);
            return;
        }
    }
}

size_t PendingSubGRequests() {
    std::lock_guard<std::mutex> lock(SubGReqListMutex);
    return SubGBoardReqList.size();
}

size_t AwaitedSubGRequests() {
    std::lock_guard<std::mutex> lock(SubGReqListMutex);
    return ReqWaitingList.size();
}
