#include "tools/subgsim/sim_tag_traffic.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Tag 0x01020304, message 5, one activity report numbered 5 of a standing
// animal: 120 steps, 200 standing, 1 lying bout of 30.
const Bytes kGoodActivity = {0x1a, 0x01, 0x14, 0x00,                                // frame header
                             0x00,                                                  // radio
                             0x12, 0x02, 0x04, 0x03, 0x02, 0x01, 0x05, 0x01, 0x01, 0x00,  // tag header
                             0x01, 0x05, 0x78, 0x00, 0xc8, 0x00, 0x01, 0x1e, 0x03,        // activity
                             0x10,                                                  // RSSI
                             0xa6};                                                 // checksum

struct KindBytes {
    const char* name;
    Bytes sub;  // with msgId 7
};

class SimTagKinds : public ::testing::TestWithParam<KindBytes> {};

TEST_P(SimTagKinds, DefaultBodyFollowsTheLayout) {
    std::optional<SubMsgKind> kind = SubMsgKindByName(GetParam().name);
    ASSERT_TRUE(kind);
    EXPECT_EQ(DefaultSubMessage(*kind, 7), GetParam().sub);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SimTagKinds,
    ::testing::Values(
        KindBytes{"activity", {0x01, 0x07, 0x78, 0x00, 0xc8, 0x00, 0x01, 0x1e, 0x03}},
        KindBytes{"unforwarded", {0x03, 0x07, 0x78, 0x00, 0xc8, 0x00, 0x01, 0x1e, 0x03}},
        // 15 steps, 10 standing, stood up 30 units ago
        KindBytes{"standup", {0x0f, 0x07, 0x0f, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x1e}},
        // 2 loads, 1 reset of cause 4, 97 %, noise 12, battery 3012, -78 dBm, -5 degrees,
        // firmware 7 of application 1, mask 5, extra flag 1, CRC 0x5a
        KindBytes{"diag1",
                  {0x02, 0x01, 0x02, 0x01, 0x04, 0x00, 0x00, 0x61, 0x0c, 0xc4, 0x0b, 0x4e, 0xfb, 0x87, 0x05, 0x01, 0x00,
                   0x5a}},
        KindBytes{"diag2",
                  {0x02, 0x02, 0x02, 0x01, 0x04, 0x00, 0x00, 0x61, 0x0c, 0xc4, 0x0b, 0x4e, 0xfb, 0x03, 0x02, 0x07, 0x80,
                   0x05, 0x01, 0x00, 0x5a}},
        // 300 s, 3 retries, 60 s, 3600 s, 120 s, MEMS 10 2 20 200
        KindBytes{"params", {0x0b, 0x2c, 0x01, 0x03, 0x3c, 0x00, 0x10, 0x0e, 0x78, 0x00, 0x0a, 0x02, 0x14, 0xc8}},
        KindBytes{"per", {0x07, 0x47}},
        KindBytes{"mems", {0x3f, 0x03, 0xf4, 0x01, 0x04, 0x05, 0x06}},
        KindBytes{"raw", {0xfe, 0x03, 0x01, 0xab, 0x10}},
        KindBytes{"type10", {0x0a, 0x00}},
        KindBytes{"unknown", {0x05}}));

TEST(SimTagKindNames, UnknownNamesAreRefused) {
    EXPECT_FALSE(SubMsgKindByName("Activity"));
    EXPECT_FALSE(SubMsgKindByName(""));
    EXPECT_FALSE(MalformedKindByName("format2"));
    EXPECT_EQ(MalformedKindName(MalformedKind::Length4), std::string("length4"));
    EXPECT_EQ(SubMsgKindNames(), "activity, unforwarded, standup, diag1, diag2, params, per, mems, raw, type10, unknown");
    EXPECT_EQ(MalformedKindNames(), "format1, diag3, short, cut, checksum, length4");
}

TEST(SimTagKindsMessage, OneActivityReportIsTheWholeFrame) {
    TagTraffic t = KindsTagMessage(0x01020304, 5, 0, {SubMsgKind::Activity});
    EXPECT_EQ(t.wire, kGoodActivity);
    EXPECT_EQ(t.records, 1);
}

TEST(SimTagKindsMessage, ActivityReportsCountUpToTheMessageNumber) {
    TagTraffic t = KindsTagMessage(9, 1, 2, {SubMsgKind::Activity, SubMsgKind::Per, SubMsgKind::Unforwarded,
                                             SubMsgKind::StandUp, SubMsgKind::Params});
    ASSERT_FALSE(t.wire.empty());
    const uint8_t* p = t.wire.data() + 4;
    EXPECT_EQ(p[1], 9 + 9 + 2 + 9 + 9 + 14) << "packet length";
    EXPECT_EQ(p[7], 1) << "message number";
    EXPECT_EQ(p[9], 5) << "sub-message count";
    EXPECT_EQ(p[10], 2) << "delay count";
    EXPECT_EQ(p[12], 0xff) << "the first report, two before the last, wrapped";
    EXPECT_EQ(p[23], 0x00);
    EXPECT_EQ(p[32], 0x01) << "the just-stood-up report is the newest";
    EXPECT_EQ(t.records, 4);
}

TEST(SimTagKindsMessage, NoSubMessagesAndTooManyOfThem) {
    TagTraffic none = KindsTagMessage(1, 0, 0, {});
    EXPECT_EQ(none.wire.size(), 5u + 12u);
    EXPECT_EQ(none.records, 0);
    EXPECT_TRUE(KindsTagMessage(1, 0, 0, std::vector<SubMsgKind>(12, SubMsgKind::Diag2)).wire.empty());
    EXPECT_EQ(KindsTagMessage(1, 0, 0, std::vector<SubMsgKind>(13, SubMsgKind::Diag1)).wire.size(), 5u + 12u + 13u * 18u);
}

struct MalformedBytes {
    MalformedKind kind;
    Bytes wire;
    int records;
};

class SimTagMalformed : public ::testing::TestWithParam<MalformedBytes> {};

TEST_P(SimTagMalformed, FaultSitsWhereAsked) {
    TagTraffic t = MalformedTagMessage(GetParam().kind, 0x01020304, 5);
    EXPECT_EQ(t.wire, GetParam().wire);
    EXPECT_EQ(t.records, GetParam().records);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SimTagMalformed,
    ::testing::Values(
        // format identifier 1
        MalformedBytes{MalformedKind::Format1,
                       {0x1a, 0x01, 0x14, 0x00, 0x00, 0x12, 0x01, 0x04, 0x03, 0x02, 0x01, 0x05, 0x01, 0x01, 0x00,
                        0x01, 0x05, 0x78, 0x00, 0xc8, 0x00, 0x01, 0x1e, 0x03, 0x10, 0xa5},
                       0},
        // the activity report, then diagnostics version 3 in the 20-byte layout
        MalformedBytes{MalformedKind::Diag3,
                       {0x2f, 0x01, 0x14, 0x00, 0x00, 0x27, 0x02, 0x04, 0x03, 0x02, 0x01, 0x05, 0x01, 0x02, 0x00,
                        0x01, 0x05, 0x78, 0x00, 0xc8, 0x00, 0x01, 0x1e, 0x03,
                        0x02, 0x03, 0x02, 0x01, 0x04, 0x00, 0x00, 0x61, 0x0c, 0xc4, 0x0b, 0x4e, 0xfb, 0x03, 0x02, 0x07,
                        0x80, 0x05, 0x01, 0x00, 0x5a, 0x10, 0x6c},
                       0},
        // three announced, one there: the host still delivers that one
        MalformedBytes{MalformedKind::Short,
                       {0x1a, 0x01, 0x14, 0x00, 0x00, 0x12, 0x02, 0x04, 0x03, 0x02, 0x01, 0x05, 0x01, 0x03, 0x00,
                        0x01, 0x05, 0x78, 0x00, 0xc8, 0x00, 0x01, 0x1e, 0x03, 0x10, 0xa4},
                       1},
        // the activity report, then 6 of the 13 parameter bytes
        MalformedBytes{MalformedKind::Cut,
                       {0x21, 0x01, 0x14, 0x00, 0x00, 0x19, 0x02, 0x04, 0x03, 0x02, 0x01, 0x05, 0x01, 0x02, 0x00,
                        0x01, 0x05, 0x78, 0x00, 0xc8, 0x00, 0x01, 0x1e, 0x03, 0x0b, 0x2c, 0x01, 0x03, 0x3c, 0x00, 0x10,
                        0x10, 0x9c},
                       0},
        MalformedBytes{MalformedKind::Checksum,
                       {0x1a, 0x01, 0x14, 0x00, 0x00, 0x12, 0x02, 0x04, 0x03, 0x02, 0x01, 0x05, 0x01, 0x01, 0x00,
                        0x01, 0x05, 0x78, 0x00, 0xc8, 0x00, 0x01, 0x1e, 0x03, 0x10, 0x59},
                       0},
        MalformedBytes{MalformedKind::Length4,
                       {0x04, 0x01, 0x14, 0x00, 0x00, 0x12, 0x02, 0x04, 0x03, 0x02, 0x01, 0x05, 0x01, 0x01, 0x00,
                        0x01, 0x05, 0x78, 0x00, 0xc8, 0x00, 0x01, 0x1e, 0x03, 0x10, 0xa6},
                       0}));

TEST(SimTagStream, TagsTakeTurnsAndNumberTheirOwnMessages) {
    TagTraffic t = StreamTagMessage(1000, 13);
    // tag 1003, second round: message 1, second radio, RSSI byte 0x08 + 13;
    // 121 steps, 269 standing, 1 lying bout of 31, lying position 2
    EXPECT_EQ(Bytes(t.wire.begin() + 4, t.wire.end() - 1),
              (Bytes{0x01, 0x12, 0x02, 0xeb, 0x03, 0x00, 0x00, 0x01, 0x01, 0x01, 0x00,
                     0x01, 0x01, 0x79, 0x00, 0x0d, 0x01, 0x01, 0x1f, 0x02, 0x15}));
    EXPECT_EQ(t.records, 1);
    for (uint64_t i = 0; i < 2 * kStreamTags; ++i) {
        Bytes wire = StreamTagMessage(1000, i).wire;
        EXPECT_EQ(wire[4 + 3] | wire[4 + 4] << 8, 1000 + static_cast<int>(i % kStreamTags));
    }
    EXPECT_EQ(StreamTagMessage(1000, 256 * kStreamTags + 3).wire[4 + 7], 0) << "numbers wrap after 255";
    EXPECT_EQ(StreamTagMessage(1000, 255 * kStreamTags + 3).wire[4 + 7], 255);
}

}  // namespace
