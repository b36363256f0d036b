#include "backbone/rtc_command.h"

#include "platform/log.h"

#include "RtcCommandToReader.pb.h"
#include "subgconfig/channel_survey.h"

void HandleRtcCommand(unsigned int command) {
    switch (command) {
        case RtcCommandToReader::StartChannelSurvey: StartChannelSurvey(); break;
        case RtcCommandToReader::CancelChannelSurvey: CancelChannelSurvey(); break;
        default: return;  // diagnostics, built-in test, restarts: not acted on by this reader
    }
    LogLine(LOG_DEBUG, "HandleRtcCommand: sent command %d", command);
}
