#include "platform/log.h"

#include <atomic>
#include <exception>

#include "RtcAcknowledgePersistedTagData.pb.h"
#include "backbone/rtc_handlers.h"
#include "platform/clock.h"

namespace {
std::atomic<time_t> LastPersistAck{0};
}

time_t LastPersistAckTime() { return LastPersistAck; }

// The RTC has stored some packages. Sent packages have already left the
// queue, so only the acknowledgement of this message remains to do.
void HandlePersistAck(const RTCHandlerContext& context, const uint8_t* message, uint32_t length) {
    LogLine(LOG_DEBUG, "RTCListener: Received RTCPERSISTACK");
    try {
        RtcAcknowledgePersistedTagData persisted;
        if (persisted.ParseFromArray(message, static_cast<int>(length))) LastPersistAck = NowSeconds();
        QueueRTCAck(context, persisted.message_header().message_index());
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "RTCListener: (Persist ACK) caught an exception (%s)", e.what());
    }
}
