#include "subgconfig/housekeeping.h"

#include "platform/log.h"

#include <atomic>
#include <ctime>

#include "params/working_params.h"
#include "platform/clock.h"
#include "platform/host_probes.h"
#include "subg/frame.h"
#include "subg/led_word.h"
#include "subg/link_buffers.h"
#include "subg/link_loan.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "subg/scheduler.h"
#include "subg/serial_listener.h"
#include "subgconfig/frequencies.h"
#include "subgconfig/mems_params.h"
#include "subgconfig/versions.h"
#include "tags/tag_messages.h"

namespace {

constexpr time_t kMEMSParamCheckSeconds = 5;
constexpr time_t kLedWordSeconds = 1;
constexpr time_t kMEMSStateSeconds = 3600;
constexpr time_t kKeepAliveSeconds = 5;
constexpr uint8_t kScanData[] = {2, 1, 0};

// The listener thread's own, but LastMEMSTime, which the MEMS parameter
// file's reader moves back.
time_t LastMEMSParamTime = 0;
time_t LastDiagCollectTime = 0;
time_t LastChannelScanTime = 0;
time_t LastLedWordTime = 0;
std::atomic<time_t> LastMEMSTime{0};
time_t LastSWVersCollectTime = 0;  // 0: no keep-alive round yet
int CurrKeepAliveOp = 1;
// Set once before the listener thread starts, read only by it.
bool (*RtcLinkUp)() = nullptr;

// The rule of every periodic duty: a clock that went back restarts the
// stamp; otherwise the duty is due once more than interval has passed.
bool Due(time_t* stamp, time_t now, time_t interval) {
    if (now < *stamp) {
        *stamp = now;
        return false;
    }
    return now - *stamp > interval;
}

// Before the parameters are loaded the intervals read zero; a zero
// steady-state interval would reset a board that has just connected.
void TagWatchdog(time_t now, const WorkingParamsSt& params) {
    if (!SubGBoardConnected || !WorkingParamsLoaded() || params.SteadyStateInterval == 0) return;
    uint32_t limit = 2 * params.SteadyStateInterval;
    time_t last = LastTagMessageTime;
    if (static_cast<unsigned long>(now - last) <= limit) return;
    LogLine(LOG_INFO,
           "SerialListener: No tag message arrived for %d seconds, reseting SubGBoard (last tag message at %lu)",
           static_cast<int>(limit), static_cast<unsigned long>(last));
    ResetBoard();
    TagCommTimeout = 1;
    LastTagMessageTime = now;
}

void MEMSParamCheck(time_t now) {
    if (!Due(&LastMEMSParamTime, now, kMEMSParamCheckSeconds)) return;
    NeedToChangeMEMSParam();
    UpdateMEMSFiletrParams();
    LastMEMSParamTime = now;
}

void DiagnosticsDuty(time_t now, const WorkingParamsSt& params) {
    if (!WorkingParamsLoaded() || params.DiagInterval <= 0) return;
    // While the board is away the stamp stays, so the request goes out as
    // soon as it is back.
    if (!Due(&LastDiagCollectTime, now, static_cast<time_t>(params.DiagInterval) * 60) || !SubGBoardConnected) {
        return;
    }
    AddSubGRequest(MakeRequest(SubGOp::GetDiagnostics));
    LastDiagCollectTime = now;
}

void ChannelScanDuty(time_t now, const WorkingParamsSt& params) {
    if (!WorkingParamsLoaded() || params.ChannScanInterval <= 0) return;
    if (!Due(&LastChannelScanTime, now, static_cast<time_t>(params.ChannScanInterval) * 60)) return;
    if (DoesFrequenciesTableMatch() != 1 || !SubGBoardConnected) return;
    AddSubGRequest(MakeRequest(SubGOp::ScanRSSI, kScanData, sizeof(kScanData)));
    LastChannelScanTime = now;
}

void LedWordDuty(time_t now) {
    if (!Due(&LastLedWordTime, now, kLedWordSeconds)) return;
    LastLedWordTime = now;
    // The host's readings are those asked for at the previous LED word.
    HostReadings host = LatestHostReadings();
    RequestHostReadings();
    LedInputs in{host.wifiDBm, RtcLinkUp != nullptr && RtcLinkUp(), host.sdCardPresent,
                 static_cast<long>(now - LastTagMessageTime), TagCommTimeout != 0};
    // Tag messages set the traffic bit from the parser thread meanwhile.
    uint8_t previous = LedsWord;
    uint8_t word;
    do {
        word = NextLedsWord(previous, in);
    } while (!LedsWord.compare_exchange_weak(previous, word));
    AddSubGRequest(MakeRequest(SubGOp::LedWord, &word, 1));
}

void MEMSStateDuty(time_t now) {
    time_t stamp = LastMEMSTime;
    bool due = Due(&stamp, now, kMEMSStateSeconds);
    LastMEMSTime = stamp;
    if (!due) return;
    LastMEMSTime = now;
    if (!MEMSParamsGiven()) return;
    if (CollectMEMS) {
        CollectMEMS = 0;
        LogLine(LOG_DEBUG, "CheckMEMSUpdateState: Sending MEMS filter parameters");
    } else {
        CollectMEMS = 1;
        LogLine(LOG_DEBUG, "CheckMEMSUpdateState: Starting to collect");
    }
}

void QueueKeepAliveQuestion() {
    static const struct {
        uint8_t opcode;
        int dataLen;
        uint8_t data;
    } kCycle[] = {
        {SubGOp::GetSWVersion, 0, 0}, {SubGOp::GetFreq, 1, 0}, {SubGOp::GetFreq, 1, 1},
        {SubGOp::GetOutputPower, 1, 1}, {SubGOp::GetSteadyStateInterval, 1, 1},
    };
    constexpr int kCycleLength = sizeof(kCycle) / sizeof(kCycle[0]);
    const auto& question = kCycle[CurrKeepAliveOp];
    AddSubGRequest(MakeRequest(question.opcode, &question.data, static_cast<size_t>(question.dataLen)));
    CurrKeepAliveOp = (CurrKeepAliveOp + 1) % kCycleLength;
    if (HasBootLoader(CurrentSubGAppVersion())) AddSubGRequest(MakeRequest(SubGOp::ParamCheck));
}

// Until the board answers, the version question goes straight to the slot:
// the request queue hands nothing out to a board that is not connected.
void AskVersionDirectly() {
    LogLine(LOG_DEBUG, "KeepAliveMessages: SubGboard not connected yet sending GetSWVers");
    SendMsg(MakeRequest(SubGOp::GetSWVersion));
    CheckMsgInQ();
}

// A clock set back makes the round due at once rather than stalling the
// board's supervision until the clock has caught up.
bool KeepAliveDue(time_t now) {
    return LastSWVersCollectTime == 0 || now < LastSWVersCollectTime || now - LastSWVersCollectTime > kKeepAliveSeconds;
}

}  // namespace

void SetRtcLinkProbe(bool (*rtcLinkUp)()) { RtcLinkUp = rtcLinkUp; }

void StartHousekeeping() {
    time_t now = NowSeconds();
    LedsWord = 0x10;
    CurrKeepAliveOp = 1;
    LastDiagCollectTime = LastChannelScanTime = LastLedWordTime = LastMEMSParamTime = now;
    LastMEMSTime = now;
    LastTagMessageTime = now;
    LastSWVersCollectTime = 0;
}

void ConnectedHousekeeping() {
    time_t now = NowSeconds();
    WorkingParamsSt params = SnapshotWorkingParams();
    TagWatchdog(now, params);
    MEMSParamCheck(now);
    DiagnosticsDuty(now, params);
    ChannelScanDuty(now, params);
    LedWordDuty(now);
    MEMSStateDuty(now);
}

void KeepAliveRound() {
    time_t now = NowSeconds();
    if (!KeepAliveDue(now)) return;
    // A firmware upgrade runs on its own thread with the port lent to it;
    // the listener waits here until it is over. Both watchdogs slept
    // through it and start afresh.
    if (LastSWVersCollectTime != 0 && LendSerialLinkIfAsked()) {
        now = NowSeconds();
        LastTagMessageTime = now;
        RestartSilenceWatchdog();
    }
    if (SubGBoardConnected) {
        QueueKeepAliveQuestion();
    } else {
        AskVersionDirectly();
    }
    LastSWVersCollectTime = now;
}

void ExpireMEMSStateTimer() { LastMEMSTime = NowSeconds() - kMEMSStateSeconds - 1; }
