#include "tools/subgsim/sim_tags.h"

#include <gtest/gtest.h>

#include "subg/frame.h"

namespace {

TEST(SimTagMessage, RoutineMessageHasOneActivityReport) {
    EXPECT_EQ(RoutineTagMessage(100001, 5),
              (std::vector<uint8_t>{
                  0x00,                                                   // radio
                  0x12, 0x02, 0xa1, 0x86, 0x01, 0x00, 0x05, 0x01, 0x01, 0x00,  // header
                  0x01, 0x05, 0x78, 0x00, 0xc8, 0x00, 0x01, 0x1e, 0x03,        // activity report
                  0x10,                                                   // RSSI
              }));
}

TEST(SimTagMessage, TheRssiByteSitsAtPacketLengthPlusTwo) {
    std::vector<uint8_t> payload = RoutineTagMessage(7, 0);
    ASSERT_EQ(payload.size(), size_t{payload[1]} + 3);
    EXPECT_EQ(payload[payload[1] + 2], 0x10);
}

TEST(SimTagMessage, CountsAndChainsSeveralSubMessages) {
    TagPacketHeader header;
    header.radio = 1;
    header.tagId = 0x01020304;
    header.messageId = 9;
    header.intervalLength = 3;
    header.delayCount = 2;
    header.rssi = 0xf0;
    ActivityReport stoodUp;
    stoodUp.type = 15;
    stoodUp.msgId = 8;
    stoodUp.steps = 0x0102;
    stoodUp.flags = 4;
    std::vector<uint8_t> payload = TagMessagePayload(header, {ActivitySubMessage(stoodUp), {0x05}});
    EXPECT_EQ(payload, (std::vector<uint8_t>{0x01, 0x13, 0x02, 0x04, 0x03, 0x02, 0x01, 0x09, 0x03, 0x02, 0x02,
                                             0x0f, 0x08, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x04, 0x05, 0xf0}));
}

TEST(SimTagMessage, ANoSubMessageMessageIsStillWellFormed) {
    EXPECT_EQ(TagMessagePayload(TagPacketHeader{}, {}),
              (std::vector<uint8_t>{0x00, 0x09, 0x02, 0, 0, 0, 0, 0x00, 0x01, 0x00, 0x00, 0x10}));
}

TEST(SimTagMessage, RefusesWhatDoesNotFitInOneFrame) {
    std::vector<TagSubMessage> subs(26, TagSubMessage(9, 0x01));
    subs.push_back(TagSubMessage(4, 0x05));
    EXPECT_EQ(TagMessagePayload(TagPacketHeader{}, subs).size(), static_cast<size_t>(kMaxFrameData));
    subs.push_back({0x05});
    EXPECT_TRUE(TagMessagePayload(TagPacketHeader{}, subs).empty());
    EXPECT_TRUE(TagMessagePayload(TagPacketHeader{}, std::vector<TagSubMessage>(256)).empty());
}

}  // namespace
