#include "backbone/backbone_thread.h"

#include <pthread.h>
#include "platform/log.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "backbone/backbone_iface.h"
#include "backbone/msg_q_sender.h"
#include "backbone/msg_queue.h"
#include "backbone/rtc_handlers.h"
#include "backbone/rtc_listener.h"
#include "params/build_time.h"
#include "params/working_params.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "platform/timing.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "subgconfig/channel_survey.h"
#include "subgconfig/frequencies.h"
#include "subgconfig/rf_startup.h"
#include "subgconfig/versions.h"
#include "tags/sub_g_diagnostics.h"
#include "tags/sub_msg_list.h"

std::atomic<uint8_t> RTCConnected{0};

namespace {

// Set once by the backbone thread and alive until the process ends: the
// survey's progress and a planned stop reach the link and its queue here.
std::atomic<BackBoneIface*> BackBoneIfaceInst{nullptr};

constexpr int kReadyPollMicros = 5000;
// Records come in runs: a short pause after some lets the next few gather.
constexpr int kIdlePassMicros = 50000;
constexpr long long kNothingHeardMicros = 5 * 1000000;
// A record reaches the backup journal once it has waited this long in the
// package: while no RTC is paired the package goes to the queue, while one
// is paired a copy of it goes to the journal. With passes of at most a
// slice and the sender's sync every half second, a record is on disk
// within about two seconds of its arrival, and a SIGKILL costs no more.
constexpr long long kToJournalMicros = 1000000;
// While no RTC is paired this thread listens for broadcasts in slices this
// long, taking the records that came between them; while one is paired a
// quiet pass waits as long.
constexpr int kListenSliceMillis = 250;
constexpr long long kPassSliceMicros = kListenSliceMillis * 1000LL;
constexpr uint64_t kLoopCountMark = 0xFFFFFFFF;

// Held while one record moves from SubMsgList into the package, so that a
// planned stop never saves the queue between the two.
std::mutex RecordDrainMutex;

std::atomic<uint8_t> FreqDelaySent{0};
uint64_t ZemloBackboneThLoopCount = kLoopCountMark;  // backbone thread only

// A technician's measure of the traffic: the records taken so far, logged
// at most once a second while the count moves.
unsigned long RecordsTaken = 0;
unsigned long RecordsReported = 0;
time_t LastRecordsReport = 0;

void ReportRecordsTaken() {
    const time_t now = NowSeconds();
    if (RecordsTaken == RecordsReported || now == LastRecordsReport) return;
    LogLine(LOG_DEBUG, "ZemloBackboneTh: %lu tag records taken", RecordsTaken);
    RecordsReported = RecordsTaken;
    LastRecordsReport = now;
}

// The last unpaired pass, for the disconnection counters; 0 while paired so
// that a paired period never counts as time without the RTC.
time_t LastNotPairedCheck = 0;
// After a window without a usable broadcast, listening rests until then
// (monotonic), while the records keep moving.
long long ListenRestsUntil = 0;

void ReportSurveyProgress(unsigned channel, unsigned channelProgress, unsigned surveyProgress, unsigned total) {
    BackBoneIfaceInst.load()->UpdateChannScanProgress(channel, channelProgress, surveyProgress, total);
}

uint32_t WholeMinutes(unsigned long long seconds) {
    return static_cast<uint32_t>(std::min<unsigned long long>(seconds / 60, UINT32_MAX));
}

void StartLinkThread(void* (*entry)(void*), void* arg) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, entry, arg) != 0) {
        LogLine(LOG_ERR, "ZemloBackboneTh: failed to start a link thread");
        return;
    }
    pthread_detach(thread);
}

// Moves one waiting record into the package; false when none was waiting.
bool DrainOneRecord(BackBoneIface* link) {
    std::lock_guard<std::mutex> drain(RecordDrainMutex);
    TimedSubGMsg record;
    if (!TakeTagData(&record)) return false;
    link->AddTagRecord(record);
    ++RecordsTaken;
    return true;
}

// The first unpaired pass of a period asks the board for no delay before a
// frequency change, so that a new channel takes effect at once.
void SendFreqChangeDelayOnce() {
    if (FreqDelaySent) return;
    SetFreqChDelay(0);
    const uint8_t noDelay = 0;
    AddSubGRequest(MakeRequest(SubGOp::SetFreqChangeDelay, &noDelay, 1));
    FreqDelaySent = 1;
}

void PairedPass(BackBoneIface* link) {
    link->JournalCopyOlderThan(kToJournalMicros);
    FreqDelaySent = 0;
    RTCConnected = 1;
    LastNotPairedCheck = 0;
    ListenRestsUntil = 0;
    if (ZemloBackboneThLoopCount == kLoopCountMark) {
        ZemloBackboneThLoopCount = 0;
        LogLine(LOG_DEBUG, "ZemloBackboneTh completed 0xffffffff loops (Paired)!");
    } else {
        ++ZemloBackboneThLoopCount;
    }
}

void UnpairedPass(BackBoneIface* link) {
    RTCConnected = 0;
    if (ZemloBackboneThLoopCount == kLoopCountMark) {
        ZemloBackboneThLoopCount = 0;
        LogLine(LOG_DEBUG, "ZemloBackboneTh is alive (not paired)!");
        SendFreqChangeDelayOnce();
    }
    const time_t now = NowSeconds();
    if (LastNotPairedCheck == 0 || now < LastNotPairedCheck) {
        LastNotPairedCheck = now;
    } else if (now > LastNotPairedCheck) {
        link->UpdateDisConnectTime(static_cast<unsigned long long>(now - LastNotPairedCheck));
        LastNotPairedCheck = now;
    }
    link->HandOverOlderThan(kToJournalMicros);
    const long long rest = ListenRestsUntil - MonotonicMicros();
    if (rest > 0) {
        WaitForTagData(std::min(kPassSliceMicros, rest));
    } else if (link->ListenForPairing(kListenSliceMillis) < 0) {
        ListenRestsUntil = MonotonicMicros() + kNothingHeardMicros;
    }
}

}  // namespace

void ForwardReports(BackBoneIface* link) {
    ZemloReaderDiagnosticsInformation diag;
    if (TakeDiagnostics(&diag)) {
        diag.set_overall_no_connection_time(WholeMinutes(link->GetNotPairedSeconds()));
        diag.set_rtc_socket_disconnection_time_counter(WholeMinutes(link->GetNoSocketSeconds()));
        link->UpdateReaderDiag(diag);
        if (RTCConnected) {
            link->EmptyReaderPack();
            LogLine(LOG_DEBUG, "ZemloBackboneTh: sent diagnostics to RTC");
        }
    }
    ZemloChannelSurveyResults survey;
    if (TakeSurveyResults(&survey)) {
        link->UpdateChannScan(survey);
        if (RTCConnected) {
            link->EmptyReaderPack();
            LogLine(LOG_DEBUG, "ZemloBackboneTh: sent channel scan to RTC");
        }
    }
    // The versions ride in the report: it waits until the board's are known.
    if (ParamsUpdated && GVTUpdated && RTCConnected) {
        // Taken before the report reads the parameters: a change made while
        // it is built sets the flag again and goes out with the next one.
        ParamsUpdated = 0;
        link->UpdateParams();
        link->EmptyReaderPack();
        LogLine(LOG_DEBUG, "ZemloBackboneTh: sent parameters update to RTC");
        SendSteadyStateInterval(SnapshotWorkingParams().SteadyStateInterval);
    }
}

void* ZemloBackboneTh(void* arg) {
    // Written again once the board reports its versions; where the file is
    // a link, the link stays for that save.
    std::remove(FollowLink(kSubGVersionFilePath).c_str());
    // Both live until the process ends: the other threads use them to the last.
    auto* queue = new OutgoingQueue();
    auto* link = new BackBoneIface(*queue);
    BackBoneIfaceInst = link;
    SetSurveyProgressSink(ReportSurveyProgress);
    if (const auto* settings = static_cast<const BackboneSettings*>(arg)) {
        if (settings->readerMac != 0) link->SetReaderId(settings->readerMac);
        link->ListenOnlyTo(settings->allowedRTCs);
    }

    while (!ReadyForRTC) MicroSecSleep(kReadyPollMicros);
    StartLinkThread(MsgQSender, link);
    // Records wait in SubMsgList until the backup's indices are known.
    while (!link->Queue().BackupLoaded()) MicroSecSleep(kReadyPollMicros);
    link->ContinueMsgIndexAbove(link->Queue().HighestQueuedIndex());
    static RTCHandlerContext context = MakeRTCHandlerContext(*link, SetSystemClock);
    StartLinkThread(RTCListener, &context);
    LastNotPairedCheck = NowSeconds();

    bool drained = false;
    for (;;) {
        if (DrainOneRecord(link)) {  // records before anything else
            drained = true;
            continue;
        }
        const bool paired = link->GetRTCCommState() == RTC_PAIRED;
        if (drained) {
            MicroSecSleep(kIdlePassMicros);
        } else if (paired) {
            WaitForTagData(kPassSliceMicros);
        }  // unpaired, the pass itself waits: one listening slice
        drained = false;
        ReportRecordsTaken();
        ForwardReports(link);
        if (paired) {
            PairedPass(link);
        } else {
            UnpairedPass(link);
        }
    }
    return nullptr;
}

BackboneStatus ReadBackboneStatus() {
    BackboneStatus status;
    BackBoneIface* link = BackBoneIfaceInst;
    if (link == nullptr) return status;
    status.rtcState = link->GetRTCCommState();
    const RTCEndpoint rtc = link->GetRTCEndpoint();
    if (rtc.address[0] != '\0') status.rtcAddress = std::string(rtc.address) + ":" + std::to_string(rtc.port);
    const OutgoingQueue::Counts queued = link->Queue().QueuedCounts();
    status.packagesQueued = queued.packages;
    status.recordsWaiting = queued.tagRecords;
    status.backupBytesWritten = queued.backupBytesWritten;
    status.lastBackupWrite = link->Queue().LastBackupWriteTime();
    return status;
}

void SaveQueueForExit() {
    BackBoneIface* link = BackBoneIfaceInst;
    if (link == nullptr) return;
    // Held until the process ends: the backbone takes no record after this.
    RecordDrainMutex.lock();
    TimedSubGMsg record;
    while (TakeTagData(&record)) link->AddTagRecord(record);
    link->EmptyReaderPack();
    link->Queue().MakeJournalDurable();
}
