// Keep-alives, which also carry the channel survey's progress updates, and
// the keep-alive interval the RTC gave.
#include <sys/time.h>
#include "platform/log.h"

#include <exception>
#include <string>

#include "backbone/backbone_iface.h"
#include "backbone/envelope.h"
#include "backbone/messages.h"
#include "params/working_params.h"

std::mutex SurveyProgressMutex;

int KeepAliveWithinBounds(uint32_t seconds, const char* caller) {
    if (seconds >= kMinKeepAliveSeconds && seconds <= kMaxKeepAliveSeconds) return static_cast<int>(seconds);
    const uint32_t taken = seconds < kMinKeepAliveSeconds ? kMinKeepAliveSeconds : kMaxKeepAliveSeconds;
    LogLine(LOG_ERR, "%s: keep-alive interval of %u s is outside %u to %u s, %u s taken", caller, seconds,
           kMinKeepAliveSeconds, kMaxKeepAliveSeconds, taken);
    return static_cast<int>(taken);
}

void BackBoneIface::SetKeepAliveInterval(int seconds) { SetKeepAlive(seconds); }

int BackBoneIface::GetKeepAliveInterval() { return SnapshotWorkingParams().KeepAlive; }

int BackBoneIface::FlushKeepAlive() {
    if (!IsPaired()) return 0;
    timeval now{};
    gettimeofday(&now, nullptr);
    const uint64_t nowMillis = MillisSinceEpoch(now);
    std::string envelope;
    try {
        bool built = false;
        // Sent once: a later update supersedes one that is lost.
        ZemloChannelSurveyProgressUpdate progress;
        const bool progressPending = TakeSurveyProgress(&progress);
        if (progressPending) {
            uint64_t index;
            {
                std::lock_guard<std::mutex> lock(ReaderPackMutex);
                index = NextMsgIndex++;
            }
            built = BuildSurveyProgressEnvelope(&progress, index, nowMillis, &envelope);
        } else {
            const ZemloReaderDataPackage keepAlive = BuildKeepAlivePackage(nowMillis);
            PrintReaderDataPack(keepAlive);
            built = AppendEnvelope(READERDATAPACKAGE, keepAlive, &envelope);
        }
        if (!built) {
            LogLine(LOG_ERR, "BackBoneIface::FlushKeepAlive: Failed to write length");
            return 0;
        }
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "BackBoneIface::FlushKeepAlive: caught an exception (%s)", e.what());
        return 0;
    }
    return SendToRTC(envelope) ? static_cast<int>(envelope.size()) : 0;
}

bool BackBoneIface::SurveyProgressPending() {
    std::lock_guard<std::mutex> lock(SurveyProgressMutex);
    return SurveyProgress.has_survey_progress();
}

bool BackBoneIface::TakeSurveyProgress(ZemloChannelSurveyProgressUpdate* out) {
    std::lock_guard<std::mutex> lock(SurveyProgressMutex);
    if (!SurveyProgress.has_survey_progress()) return false;
    out->Swap(&SurveyProgress);
    SurveyProgress.Clear();
    return true;
}
