#include "backbone/rtc_command.h"

#include <syslog.h>

#include "RtcCommandToReader.pb.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"

namespace {

// Start the scan on both radios (2), one pass (1), from the first channel (1).
constexpr uint8_t kStartSurveyData[] = {2, 1, 1};
// Stop the scan on both radios.
constexpr uint8_t kCancelSurveyData[] = {2};

}  // namespace

void HandleRtcCommand(unsigned int command) {
    switch (command) {
        case RtcCommandToReader::StartChannelSurvey:
            AddSubGRequest(MakeRequest(SubGOp::ScanRSSI, kStartSurveyData, sizeof(kStartSurveyData)));
            break;
        case RtcCommandToReader::CancelChannelSurvey:
            AddSubGRequest(MakeRequest(SubGOp::StopScanRSSI, kCancelSurveyData, sizeof(kCancelSurveyData)));
            break;
        default: return;  // diagnostics, built-in test, restarts: not acted on by this reader
    }
    syslog(LOG_DEBUG, "HandleRtcCommand: sent command %d", command);
}
