// The table of handlers and what they share.
#include "backbone/rtc_handlers.h"

#include "platform/log.h"

#include <cerrno>
#include <cstring>

#include "backbone/envelope.h"
#include "backbone/messages.h"

std::atomic<bool> NeedToSendACK{false};

RTCHandler FindRTCHandler(uint32_t number) {
    static const struct {
        uint32_t number;
        RTCHandler handler;
    } kHandlers[] = {
        {RTCPAIRACK, HandlePairAck},          {RTCPERSISTACK, HandlePersistAck},
        {RTCSETREADERPARAM, HandleReaderParams}, {RTCSETTAGPARAM, HandleTagParams},
        {RTCCOMMAND_FIELDNUM, HandleCommand}, {RTCCLOCKSYNC, HandleClockSync},
    };
    for (const auto& entry : kHandlers)
        if (entry.number == number) return entry.handler;
    return nullptr;
}

bool HandlesRTCEnvelope(uint32_t number) { return FindRTCHandler(number) != nullptr; }

void QueueRTCAck(const RTCHandlerContext& context, uint64_t index) {
    if (NeedToSendACK && context.queueAck) context.queueAck(index);
}

void ApplyRTCTime(const RTCHandlerContext& context, uint64_t rtcMillis) {
    timeval time{};
    if (!TimevalFromMillis(rtcMillis, &time)) {
        LogLine(LOG_ERR, "RTCListener: RTC time %llu ms is beyond this system's clock, clock left as it is",
               static_cast<unsigned long long>(rtcMillis));
        return;
    }
    if (time.tv_sec < context.clockFloorSeconds) {
        LogLine(LOG_ERR, "RTCListener: RTC time %llu ms predates this program, clock and queued times left as they are",
               static_cast<unsigned long long>(rtcMillis));
        return;
    }
    if (context.updateDataTime) context.updateDataTime(static_cast<long>(time.tv_sec));
    // Without the right to set the time (a sandbox, a container) this fails
    // every time; the link carries on regardless.
    if (context.setClock && context.setClock(time) != 0)
        LogLine(LOG_ERR, "RTCListener:  Failed on settimeofday (%s)", strerror(errno));
}
