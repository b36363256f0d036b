#include "tags/tag_dating.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr timeval kMsgTime = {1796617261, 654321};
constexpr uint32_t T = static_cast<uint32_t>(kMsgTime.tv_sec);

TimedSubGMsg Record(uint8_t type, uint8_t sequence, uint8_t activityByte = 0) {
    TimedSubGMsg r{};
    r.subMsgType = type;
    r.msgId = sequence;
    r.activityFlags = activityByte;
    return r;
}

std::vector<uint32_t> Dates(std::vector<TimedSubGMsg> records, uint8_t intervalLength) {
    DateTagRecords(records.data(), static_cast<int>(records.size()), kMsgTime, intervalLength);
    std::vector<uint32_t> seconds;
    for (const auto& r : records) {
        EXPECT_EQ(r.micros, static_cast<uint32_t>(kMsgTime.tv_usec)) << "one message, one microseconds value";
        seconds.push_back(r.seconds);
    }
    return seconds;
}

TEST(TagDating, ReportsGoBackOneIntervalPerSequenceStep) {
    EXPECT_EQ(Dates({Record(1, 10), Record(1, 11), Record(1, 12)}, 3),
              (std::vector<uint32_t>{T - 1800, T - 900, T}));
}

TEST(TagDating, SequenceNumbersThatWrappedStillCountAsEarlier) {
    EXPECT_EQ(Dates({Record(1, 254), Record(1, 255), Record(1, 0)}, 1), (std::vector<uint32_t>{T - 600, T - 300, T}));
    EXPECT_EQ(Dates({Record(1, 254), Record(1, 2)}, 1), (std::vector<uint32_t>{T - 1200, T})) << "4 intervals";
}

TEST(TagDating, DiagnosticsAndParametersAreDatedByTheirSequenceToo) {
    EXPECT_EQ(Dates({Record(1, 5), Record(2, 7), Record(11, 7)}, 6), (std::vector<uint32_t>{T - 3600, T, T}));
}

TEST(TagDating, AClosingJustStoodUpReportMovesTheOthersBack) {
    // Interval 6: 8 s per unit, 30 units = 240 s.
    EXPECT_EQ(Dates({Record(1, 20), Record(1, 21), Record(15, 99, 30)}, 6),
              (std::vector<uint32_t>{T - 240 - 1800, T - 240, T}));
}

TEST(TagDating, AJustStoodUpReportAloneIsDatedAtTheMessageTime) {
    EXPECT_EQ(Dates({Record(15, 3, 200)}, 12), (std::vector<uint32_t>{T}));
}

TEST(TagDating, AJustStoodUpReportInsideTheMessageFollowsTheGeneralRule) {
    EXPECT_EQ(Dates({Record(15, 1, 30), Record(1, 2)}, 1), (std::vector<uint32_t>{T - 300, T}));
}

TEST(TagDating, JustStoodUpUnitsFollowTheInterval) {
    EXPECT_EQ(JustStoodUpUnitSeconds(1), 2);
    EXPECT_EQ(JustStoodUpUnitSeconds(3), 4);
    EXPECT_EQ(JustStoodUpUnitSeconds(6), 8);
    EXPECT_EQ(JustStoodUpUnitSeconds(12), 15);
    EXPECT_EQ(JustStoodUpUnitSeconds(0), 1);
    EXPECT_EQ(JustStoodUpUnitSeconds(2), 1);
}

TEST(TagDating, WhatIsHandedOverAndWhatIsLogged) {
    std::vector<TimedSubGMsg> r = {Record(1, 1), Record(3, 2), Record(15, 3), Record(2, 4), Record(11, 4),
                                   Record(15, 5)};
    int n = static_cast<int>(r.size());
    EXPECT_TRUE(IsHandedOver(r[0]));
    EXPECT_FALSE(IsHandedOver(r[1]));
    EXPECT_TRUE(IsHandedOver(r[2]));
    EXPECT_TRUE(IsHandedOver(r[3]));
    EXPECT_EQ(ActivityRowOf(r.data(), n, 0), ActivityRow::Activity);
    EXPECT_EQ(ActivityRowOf(r.data(), n, 1), ActivityRow::None);
    EXPECT_EQ(ActivityRowOf(r.data(), n, 2), ActivityRow::None) << "not at the end of its message";
    EXPECT_EQ(ActivityRowOf(r.data(), n, 3), ActivityRow::None);
    EXPECT_EQ(ActivityRowOf(r.data(), n, 4), ActivityRow::None);
    EXPECT_EQ(ActivityRowOf(r.data(), n, 5), ActivityRow::JustStoodUp);
}

}  // namespace
