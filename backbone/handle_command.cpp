#include "platform/log.h"

#include <exception>

#include "RtcCommandToReader.pb.h"
#include "backbone/rtc_handlers.h"

void HandleCommand(const RTCHandlerContext& context, const uint8_t* message, uint32_t length) {
    LogLine(LOG_DEBUG, "RTCListener: Received RTCCOMMAND_FIELDNUM");
    try {
        RtcCommandToReader command;
        if (!command.ParseFromArray(message, static_cast<int>(length))) {
            LogLine(LOG_INFO, "RTCListener: (Command) the message does not parse, ignored");
            return;
        }
        if (context.handleCommand) context.handleCommand(static_cast<unsigned>(command.command()));
        QueueRTCAck(context, command.message_header().message_index());
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "RTCListener: caught an exception (%s)", e.what());
    }
}
