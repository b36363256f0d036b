#include "subgconfig/frequencies.h"

#include "platform/log.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <vector>

#include "platform/byte_order.h"
#include "params/rf_settings.h"
#include "params/working_params.h"
#include "subg/display_setting.h"
#include "subg/request_queue.h"
#include "subg/scheduler.h"
#include "subgconfig/channel_survey.h"
#include "subgconfig/config_requests.h"
#include "subgconfig/versions.h"
#include "tags/csv_logs.h"

namespace {

constexpr int kSetFreqMinReplyBytes = 5;
constexpr int kSetFreqReadingBytes = 7;  // flag, radio, RSSI, frequency
constexpr uint8_t kNoMeasurement = 0xFF;
constexpr int kGetFreqReplyBytes = 5;
constexpr int kOutputPowerReplyBytes = 1;
constexpr int kSteadyStateReplyBytes = 2;
constexpr uint32_t kSteadyStateReplyMask = 0xFFFF;
constexpr uint8_t kParamsInPlace = 1;

// Set when the board asked for its parameters before they were loaded.
std::atomic<bool> UploadOwed{false};

float HostFreq(uint8_t radio) {
    return radio == kRadio1 ? Radio1Freq.load() : Radio2Freq.load();
}

// A board whose version is not known yet is sent what an old one gets.
bool OlderBoardSoftware(const WorkingParamsSt& params) {
    return !HasBootLoader(params.SubGAppVersion);
}

// The load may finish between the two looks; then either it finds the
// upload owed or this call sees the parameters loaded, and sends it itself.
bool ReadyForUpload() {
    if (WorkingParamsLoaded()) return true;
    UploadOwed = true;
    return WorkingParamsLoaded();
}

T7734FrameRequest PackTable(int32_t region, const std::vector<float>& table) {
    if (table.size() > static_cast<size_t>(kMaxPackedChannels)) {
        LogLine(LOG_ERR, "PackChannArrayToSubG: table of %zu channels, only the first %d sent", table.size(),
               kMaxPackedChannels);
    }
    return ChannTableRequest(region, table);
}

// Returns the number of channels the board's table now has.
int QueueChannTable(int32_t region) {
    T7734FrameRequest req = PackTable(region, SnapshotChanArray());
    AddSubGRequest(req);
    return req.data[1];
}

void QueueOutputPower(uint8_t radio, int dBm) {
    const int code = CalcPA(dBm);
    if (code == kNoPACode) {
        LogLine(LOG_ERR, "SetSubGBoardParameters: %s output power %d dBm has no code, not sent", RadioName(radio),
               dBm);
        return;
    }
    AddSubGRequest(OutputPowerRequest(radio, static_cast<uint8_t>(code)));
}

void SendBothRadioFreqs() {
    SendRadioFreq(kRadio1);
    SendRadioFreq(kRadio2);
}

// A channel the board's table does not have would leave the radios on some
// frequency of the board's choosing; they are set directly instead.
void QueueWorkingChannel(int32_t channel, int channels) {
    if (channel >= 0 && channel < channels) {
        AddSubGRequest(WorkingChannelRequest(channel));
        return;
    }
    if (channels == 0) {
        LogLine(LOG_INFO, "SetSubGBoardParameters: no channel table, radio frequencies sent instead");
    } else {
        LogLine(LOG_ERR, "SetSubGBoardParameters: working channel %d outside the table of %d channels, "
               "radio frequencies sent instead", channel, channels);
    }
    SendBothRadioFreqs();
}

void CheckRadioFreq(uint8_t radio, float received) {
    if (!WorkingParamsLoaded()) {
        LogLine(LOG_DEBUG, "HandleGetFreq: working parameters not loaded yet, %s not corrected", RadioName(radio));
        return;
    }
    const float expected = HostFreq(radio);
    if (!IsUsableRadioFreq(expected)) {
        LogLine(LOG_DEBUG, "HandleGetFreq: no frequency set for %s (%.3f), not corrected", RadioName(radio),
               expected);
        return;
    }
    if (received == expected) return;
    LogLine(LOG_INFO, "SerialParser: unmatching frequency received %.3f expected %.3f", received, expected);
    SendRadioFreq(radio);
}

void ShowReceivedFreq(uint8_t radio, float received) {
    if (!DisplaySettings) return;
    char text[64];
    std::snprintf(text, sizeof text, "%s freq = %.3f, ", RadioName(radio), received);
    LogLine(LOG_INFO, "SerialParser: %s", text);
}

}  // namespace

void SetSubGBoardParameters() {
    if (!ReadyForUpload()) {
        LogLine(LOG_DEBUG, "SetSubGBoardParameters: working parameters not loaded yet, upload deferred");
        return;
    }
    UploadOwed = false;
    const WorkingParamsSt params = SnapshotWorkingParams();
    const bool older = OlderBoardSoftware(params);
    const int channels = older ? BuiltInChannelCount(params.RFRegion) : QueueChannTable(params.RFRegion);
    AddSubGRequest(DiagIntervalRequest(params.DiagInterval));
    AddSubGRequest(SteadyStateRequest32(params.SteadyStateInterval));
    QueueOutputPower(kRadio1, Radio1Power);
    QueueOutputPower(kRadio2, Radio2Power);
    if (older && channels == 0) {
        SendBothRadioFreqs();
        return;
    }
    AddSubGRequest(RegionRequest(params.RFRegion));
    QueueWorkingChannel(params.WorkingChann, channels);
}

void SendOwedBoardParameters() {
    if (UploadOwed.exchange(false)) SetSubGBoardParameters();
}

void PackChannArrayToSubG(T7734FrameRequest* req) {
    const int32_t region = SnapshotWorkingParams().RFRegion;
    *req = PackTable(region, SnapshotChanArray());
}

void SendRadioFreq(uint8_t radio) {
    if (radio != kRadio1 && radio != kRadio2) return;
    const float mhz = HostFreq(radio);
    if (!IsUsableRadioFreq(mhz)) {
        LogLine(LOG_ERR, "SendRadioFreq: %s frequency %.3f is not one a radio may have, nothing sent",
               RadioName(radio), mhz);
        return;
    }
    AddSubGRequest(RadioFreqRequest(radio, mhz));
}

void SendSteadyStateInterval(uint32_t seconds) {
    AddSubGRequest(SteadyStateRequest16(seconds));
}

bool ChangeFreqTable(const float* freqs, int count) {
    if (count < 0 || count > kMaxPackedChannels || (count > 0 && freqs == nullptr)) {
        LogLine(LOG_ERR, "ChangeFreqTable: a table of %d channels does not fit the board's request (at most %d), "
               "table kept", count, kMaxPackedChannels);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (!IsEncodableFreq(freqs[i])) {
            LogLine(LOG_ERR, "ChangeFreqTable: channel %d frequency %f cannot be sent, table kept", i, freqs[i]);
            return false;
        }
    }
    ReplaceChanTable(std::vector<float>(freqs, freqs + count));
    BackupParams();
    ParamsUpdated = 1;
    return true;
}

int DoesFrequenciesTableMatch() {
    if (!SubGBoardConnected) return 0;
    const WorkingParamsSt params = SnapshotWorkingParams();
    if (params.SubGAppVersion == 0) return 0;
    if (!OlderBoardSoftware(params)) return 1;
    return MatchesBuiltInTable(params.RFRegion, SnapshotChanArray()) ? 1 : 0;
}

ReplyResult HandleParamCheck(const T7734FrameReply& reply) {
    if (ReplyDataLen(reply) < 1) return kDiscardQueue;
    if (reply.data[0] != kParamsInPlace) SetSubGBoardParameters();
    return kFrameTaken;
}

ReplyResult HandleSetFreq(const T7734FrameReply& reply) {
    const int len = ReplyDataLen(reply);
    if (len < kSetFreqMinReplyBytes) return kDiscardQueue;
    if (reply.data[0] == kNoMeasurement) return kFrameTaken;
    if (len < kSetFreqReadingBytes) {
        LogLine(LOG_ERR, "HandleSetFreq: reading of %d bytes, %d needed", len, kSetFreqReadingBytes);
        return kDiscardQueue;
    }
    const uint8_t radio = reply.data[1];
    const int rssi = RssiDbm(reply.data[2]);
    const float mhz = DecodeFreq(GetFreqCode(reply.data + 3));
    QueueCsvRow(CsvLog::RSSI, FormatRSSIRow(time(nullptr), RadioName(radio), mhz, rssi));
    FeedSurveyReading(radio, mhz, rssi);
    return kFrameTaken;
}

ReplyResult HandleGetFreq(const T7734FrameReply& reply) {
    if (ReplyDataLen(reply) < kGetFreqReplyBytes) return kDiscardQueue;
    const uint8_t radio = reply.data[0];
    const float received = DecodeFreq(GetFreqCode(reply.data + 1));
    if (radio == kRadio1 || radio == kRadio2) CheckRadioFreq(radio, received);
    ShowReceivedFreq(radio, received);
    return kFrameTaken;
}

ReplyResult ParseOutPutPower(const T7734FrameReply& reply) {
    if (ReplyDataLen(reply) < kOutputPowerReplyBytes) return kDiscardQueue;
    if (DisplaySettings) {
        LogLine(LOG_DEBUG, "SerialParser: SubGBoard output power = %d (local RF setting: Radio1 %d, Radio2 %d",
               ParsePA(reply.data[0]), Radio1Power.load(), Radio2Power.load());
    }
    return kFrameTaken;
}

// The reply carries 16 bits: a longer interval is compared by its low bits,
// or every round would "correct" the board to them, and it is restored in
// the 32-bit form.
ReplyResult ParseSteadyStateInterval(const T7734FrameReply& reply) {
    if (ReplyDataLen(reply) < kSteadyStateReplyBytes) return kDiscardQueue;
    const uint32_t reported = GetLE16(reply.data);
    if (DisplaySettings) {
        LogLine(LOG_DEBUG, "SerialParser: SubGBoard steady state interval = %d", static_cast<int>(reported));
    }
    if (!WorkingParamsLoaded()) {
        LogLine(LOG_DEBUG, "ParseSteadyStateInterval: working parameters not loaded yet, not corrected");
        return kFrameTaken;
    }
    const uint32_t expected = SnapshotWorkingParams().SteadyStateInterval;
    if (reported == (expected & kSteadyStateReplyMask)) return kFrameTaken;
    if (expected > kSteadyStateReplyMask) {
        AddSubGRequest(SteadyStateRequest32(expected));
    } else {
        SendSteadyStateInterval(expected);
    }
    return kFrameTaken;
}
