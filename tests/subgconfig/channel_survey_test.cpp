#include "subgconfig/channel_survey.h"

#include <gtest/gtest.h>

#include <vector>

#include "params/working_params.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "subgconfig/freq_coding.h"

namespace {

struct Progress {
    unsigned channel, channelProgress, surveyProgress, total;
};
std::vector<Progress> Reported;

void Record(unsigned channel, unsigned channelProgress, unsigned surveyProgress, unsigned total) {
    Reported.push_back({channel, channelProgress, surveyProgress, total});
}

std::vector<std::vector<uint8_t>> QueuedStops() {
    std::vector<std::vector<uint8_t>> stops;
    T7734FrameRequest out;
    while (PendingSubGRequests() > 0 && GetNextSubGBReq(&out) == 1) {
        if (out.opcode == SubGOp::StopScanRSSI) stops.emplace_back(out.data, out.data + out.length - kFrameOverhead);
        RMSubGRequest(MakeReply(out.opcode));
    }
    return stops;
}

// Readings per channel of the results, in the order channels appeared.
std::vector<int> Counts() {
    ZemloChannelSurveyResults results;
    if (!TakeSurveyResults(&results)) return {};
    std::vector<int> counts;
    for (const auto& entry : results.all_channels_rssi_results()) counts.push_back(entry.rssi_readings_size());
    return counts;
}

class ChannelSurvey : public ::testing::Test {
protected:
    void UseRegion(int region) {
        ReplaceChanTable(std::vector<float>(BackwardCompatChannArray[region],
                                            BackwardCompatChannArray[region] + BuiltInChannelCount(region)));
        SetSurveyProgressSink(Record);
        StartChannelSurvey();
        QueuedStops();
    }
    void Feed(int channel, int readings) {
        for (int i = 0; i < readings; ++i) FeedSurveyReading(0, SnapshotChanArray()[channel], -100 - i);
    }
};

TEST_F(ChannelSurvey, ReadingsAreHandedOverInBatchesOfThree) {
    const struct {
        int readings;
        std::vector<int> counts;  // empty: nothing handed over
    } cases[] = {{2, {}}, {3, {3}}, {4, {3}}, {5, {3}}, {6, {6}}, {30, {30}}};
    for (const auto& c : cases) {
        UseRegion(1);
        Counts();
        Feed(0, c.readings);
        EXPECT_EQ(Counts(), c.counts) << c.readings << " readings";
    }
}

TEST_F(ChannelSurvey, AChannelHoldsThirtyReadingsAndProgressCountsEntries) {
    UseRegion(1);
    const int twelve[12] = {};
    UpdateChannScan(twelve, 0, 12);
    UpdateChannScan(twelve, 0, 12);
    UpdateChannScan(twelve, 0, 5);
    UpdateChannScan(twelve, 0, 3);
    EXPECT_EQ(Counts(), std::vector<int>{30}) << "29 readings and a batch of 3 add one";
    UpdateChannScan(twelve, 0, 13);
    UpdateChannScan(nullptr, 0, 3);
    EXPECT_TRUE(Counts().empty()) << "more than 12, or no readings: refused";

    UpdateChannScan(twelve, 1, 3);
    UpdateChannScan(twelve, 2, 3);
    ASSERT_FALSE(Reported.empty());
    const Progress& last = Reported.back();
    EXPECT_EQ(last.channel, 3u);
    EXPECT_EQ(last.channelProgress, 10u);
    EXPECT_EQ(last.surveyProgress, 33u) << "3 entries of 6 channels";
    EXPECT_EQ(last.total, 6u);
}

TEST_F(ChannelSurvey, TheLastFullChannelStopsTheBoardOnceAndKeepsTheResults) {
    UseRegion(0);
    for (int channel = 0; channel < 14; ++channel) Feed(channel, 30);
    EXPECT_TRUE(QueuedStops().empty());
    EXPECT_LT(Reported.back().surveyProgress, 100u);
    Feed(14, 30);
    EXPECT_EQ(QueuedStops(), std::vector<std::vector<uint8_t>>{{2}});
    EXPECT_EQ(Reported.back().surveyProgress, 100u);
    EXPECT_EQ(Reported.back().channel, 15u);
    EXPECT_EQ(Counts(), std::vector<int>(15, 30)) << "results kept for the RTC";

    Feed(0, 30);
    EXPECT_TRUE(QueuedStops().empty()) << "a later scan finds every channel full and runs on";

    CancelChannelSurvey();
    EXPECT_EQ(QueuedStops(), std::vector<std::vector<uint8_t>>{{2}});
    Feed(3, 3);
    EXPECT_EQ(Counts(), std::vector<int>{3}) << "cancelling emptied the results";
}

}  // namespace
