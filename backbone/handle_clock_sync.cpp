#include "platform/log.h"

#include <exception>

#include "RtcClockSync.pb.h"
#include "backbone/rtc_handlers.h"

// Not acknowledged: the message carries no index.
void HandleClockSync(const RTCHandlerContext& context, const uint8_t* message, uint32_t length) {
    LogLine(LOG_DEBUG, "RTCListener: Received RtcClockSync");
    try {
        RtcClockSync sync;
        sync.ParseFromArray(message, static_cast<int>(length));
        if (sync.has_rtc_timestamp())
            ApplyRTCTime(context, sync.rtc_timestamp());
        else
            LogLine(LOG_INFO, "RTCListener: clock sync without a time, clock left as it is");
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "RTCListener: (clock sync) caught an exception (%s)", e.what());
    }
}
