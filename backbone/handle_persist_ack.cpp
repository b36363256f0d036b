#include "platform/log.h"

#include <exception>

#include "RtcAcknowledgePersistedTagData.pb.h"
#include "backbone/rtc_handlers.h"

// The RTC has stored some packages. Sent packages have already left the
// queue, so only the acknowledgement of this message remains to do.
void HandlePersistAck(const RTCHandlerContext& context, const uint8_t* message, uint32_t length) {
    LogLine(LOG_DEBUG, "RTCListener: Received RTCPERSISTACK");
    try {
        RtcAcknowledgePersistedTagData persisted;
        persisted.ParseFromArray(message, static_cast<int>(length));
        QueueRTCAck(context, persisted.message_header().message_index());
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "RTCListener: (Persist ACK) caught an exception (%s)", e.what());
    }
}
