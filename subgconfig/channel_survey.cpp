#include "subgconfig/channel_survey.h"

#include "platform/log.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <vector>

#include "params/working_params.h"
#include "platform/latest_report.h"
#include "subg/opcodes.h"
#include "subg/radio.h"
#include "subg/request_queue.h"

namespace {

// Guards ChannSurveyContainer, the per-radio survey state and the progress
// hand-over. Taken before WorkingParamMutex and the request queue's lock.
std::mutex ChannScanMutex;

// Scan on both radios (2), one pass (1), from the first channel (1).
constexpr uint8_t kStartSurveyData[] = {2, 1, 1};
// Stop the scan on both radios.
constexpr uint8_t kStopSurveyData[] = {2};
constexpr int kBatch = 3;

// One radio's run through the channels: the frequency its batch belongs
// to (0 before the first reading), its reading index modulo 30 and the
// readings of the batch so far.
struct RadioSurvey {
    float lastFreq = 0.0f;
    int index = 0;
    int batch[kBatch] = {};
};

// All under ChannScanMutex.
ZemloChannelSurveyResults ChannSurveyContainer;
bool ChannelScanUpdated = false;
RadioSurvey Radios[2];
std::atomic<SurveyProgressSink> ProgressSink{nullptr};

std::vector<float> SurveyedTable() {
    std::vector<float> table = SnapshotChanArray();
    if (table.size() > static_cast<size_t>(kSurveyedChannels)) table.resize(kSurveyedChannels);
    return table;
}

// Channels up to the first unset frequency.
unsigned ChannelCount(const std::vector<float>& table) {
    return static_cast<unsigned>(std::find(table.begin(), table.end(), 0.0f) - table.begin());
}

void RestartRadios(const std::vector<float>& table) {
    for (RadioSurvey& radio : Radios) {
        radio.lastFreq = table.empty() ? 0.0f : table[0];
        radio.index = 0;
    }
}

void QueueStop() {
    AddSubGRequest(MakeRequest(SubGOp::StopScanRSSI, kStopSurveyData, sizeof(kStopSurveyData)));
}

ZemloChannelSurveyResults::ChannelRSSIReadings* EntryFor(unsigned channel, float mhz) {
    for (auto& entry : *ChannSurveyContainer.mutable_all_channels_rssi_results()) {
        if (entry.channel_index() == channel + 1) return &entry;
    }
    auto* entry = ChannSurveyContainer.add_all_channels_rssi_results();
    entry->set_channel_index(channel + 1);
    entry->set_channel_frequency(mhz);
    return entry;
}

void UpdateChannScanLocked(const int* readings, unsigned channel, int count, const std::vector<float>& table) {
    if (readings == nullptr || count < 0 || count > kMaxReadingsPerHandOver) {
        LogLine(LOG_ERR, "UpdateChannScan: readingCount = %d, or RSSIArray == NULL", count);
        return;
    }
    if (channel >= table.size()) {
        LogLine(LOG_ERR, "UpdateChannScan: channel %u outside the table of %zu channels", channel, table.size());
        return;
    }
    auto* entry = EntryFor(channel, table[channel]);
    int added = 0;
    for (; added < count && entry->rssi_readings_size() < kReadingsPerChannel; ++added) {
        entry->add_rssi_readings(readings[added]);
    }
    const unsigned channels = ChannelCount(table);
    const unsigned entries = static_cast<unsigned>(ChannSurveyContainer.all_channels_rssi_results_size());
    unsigned channelProgress = static_cast<unsigned>(entry->rssi_readings_size()) * 100 / kReadingsPerChannel;
    unsigned surveyProgress = channels == 0 ? 0 : (entries - 1) * 100 / channels;
    if (channelProgress >= 100) {
        channelProgress = 100;
        if (entries >= channels) {
            RestartRadios(table);
            // Only the batch that completes the survey stops the board:
            // later scans (the periodic one) find every channel full and
            // must not be stopped by results kept for the RTC.
            if (added > 0) QueueStop();
            surveyProgress = 100;
        }
    }
    if (SurveyProgressSink sink = ProgressSink.load()) sink(channel + 1, channelProgress, surveyProgress, channels);
    ChannelScanUpdated = true;
}

// The first channel of the table with exactly this frequency.
bool FindChannel(const std::vector<float>& table, float mhz, unsigned* channel) {
    auto it = std::find(table.begin(), table.end(), mhz);
    if (it == table.end()) return false;
    *channel = static_cast<unsigned>(it - table.begin());
    return true;
}

}  // namespace

void SetSurveyProgressSink(SurveyProgressSink sink) { ProgressSink = sink; }

void StartChannelSurvey() {
    {
        std::lock_guard<std::mutex> lock(ChannScanMutex);
        ChannSurveyContainer.Clear();
        RestartRadios(SurveyedTable());
    }
    AddSubGRequest(MakeRequest(SubGOp::ScanRSSI, kStartSurveyData, sizeof(kStartSurveyData)));
}

void CancelChannelSurvey() {
    {
        std::lock_guard<std::mutex> lock(ChannScanMutex);
        ChannSurveyContainer.Clear();
    }
    QueueStop();
}

// With a board that reports 30 readings per channel the index wraps
// exactly when the channel changes, so each channel is handed over in ten
// batches of three.
void FeedSurveyReading(uint8_t radio, float mhz, int dbm) {
    if (radio != kRadio1 && radio != kRadio2) return;
    std::lock_guard<std::mutex> lock(ChannScanMutex);
    RadioSurvey& r = Radios[radio];
    if (r.lastFreq == 0.0f) r.lastFreq = mhz;
    r.batch[r.index % kBatch] = dbm;
    bool handOver;
    if (mhz == r.lastFreq) {
        handOver = r.index % kBatch == kBatch - 1 || r.index == kReadingsPerChannel - 1;
    } else {
        handOver = r.index != 0;
        if (!handOver) r.lastFreq = mhz;
    }
    if (handOver) {
        const std::vector<float> table = SurveyedTable();
        unsigned channel;
        // A batch at a frequency the table no longer has is dropped.
        if (FindChannel(table, r.lastFreq, &channel)) {
            try {
                UpdateChannScanLocked(r.batch, channel, r.index % kBatch + 1, table);
            } catch (const std::exception& e) {
                LogLine(LOG_ERR, "UpdateChannScan: caught an exception (%s)", e.what());
            }
        }
        r.lastFreq = mhz;
    }
    r.index = r.index == kReadingsPerChannel - 1 ? 0 : r.index + 1;
}

void UpdateChannScan(const int* readings, unsigned channel, int count) {
    std::lock_guard<std::mutex> lock(ChannScanMutex);
    try {
        UpdateChannScanLocked(readings, channel, count, SurveyedTable());
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "UpdateChannScan: caught an exception (%s)", e.what());
    }
}

bool TakeSurveyResults(ZemloChannelSurveyResults* out) {
    return TakeLatestReport(ChannScanMutex, ChannelScanUpdated, ChannSurveyContainer, out, "TakeSurveyResults");
}
