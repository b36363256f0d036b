#include "platform/log.h"

#include <exception>

#include "RtcSetTagsParameters.pb.h"
#include "backbone/rtc_handlers.h"

// Only the first entry is applied; its tag list and further entries are
// not used.
void HandleTagParams(const RTCHandlerContext& context, const uint8_t* message, uint32_t length) {
    LogLine(LOG_DEBUG, "RTCListener: Received RTCSETTAGPARAM");
    try {
        RtcSetTagsParameters params;
        if (!params.ParseFromArray(message, static_cast<int>(length))) {
            LogLine(LOG_INFO, "RTCListener: (Tag params) the message does not parse, ignored");
            return;
        }
        if (params.tags_params_info_size() == 0) {
            // Refused the way the RTC's tools know it: as the failed check of
            // taking the first entry.
            LogLine(LOG_ERR, "RTCListener: (Tag params) caught an exception (%s)", "CHECK failed: (index) < (size()): ");
            return;
        }
        if (context.applyTagParams) context.applyTagParams(params.tags_params_info(0).tag_params_info());
        QueueRTCAck(context, params.message_header().message_index());
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "RTCListener: (Tag params) caught an exception (%s)", e.what());
    }
}
