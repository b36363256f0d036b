#include "platform/log.h"

#include <exception>

#include "RtcSetReaderParameters.pb.h"
#include "backbone/rtc_handlers.h"

void HandleReaderParams(const RTCHandlerContext& context, const uint8_t* message, uint32_t length) {
    LogLine(LOG_DEBUG, "RTCListener: Received RTCSETREADERPARAM");
    try {
        RtcSetReaderParameters params;
        if (!params.ParseFromArray(message, static_cast<int>(length))) {
            LogLine(LOG_INFO, "RTCListener: (Reader params) the message does not parse, ignored");
            return;
        }
        if (context.applyReaderParams) context.applyReaderParams(params);
        QueueRTCAck(context, params.message_header().message_index());
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "RTCListener: (Reader params) caught an exception (%s)", e.what());
    }
}
