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

TEST(SimTagBodies, DiagnosticsInBothLayouts) {
    TagDiagnostics d;
    d.firmwareLoads = 0x11;
    d.recoveryResets = 0x12;
    d.lastResetCause = 0x13;
    d.outOfRangeRx = 0x14;
    d.outOfRangeInRam = 0x15;
    d.successRate = 0x16;
    d.lfNoiseLevel = 0x17;
    d.batteryStatus = 0x1918;
    d.rssi = 0x1a;
    d.temperature = -2;
    d.fwMajor = 0x1c;
    d.fwMinor = 0x1d;
    d.fwBugFix = 0x9e;  // the older layout keeps bits 0-6 only
    d.appId1 = true;
    d.bitMask = 0x20;
    d.extraFlags = 0x01;
    d.crc = 0x22;
    EXPECT_EQ(DiagnosticsV1SubMessage(d),
              (TagSubMessage{0x02,                                            // type
                             0x01,                                            // version
                             0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,        // counters, rate, noise
                             0x18, 0x19, 0x1a, 0xfe,                          // battery, RSSI, temperature
                             0x9e, 0x20, 0x01, 0x00, 0x22}));                 // firmware|app, mask, flags, -, CRC
    EXPECT_EQ(DiagnosticsV2SubMessage(d),
              (TagSubMessage{0x02, 0x02, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0xfe,
                             0x1c, 0x1d, 0x9e, 0x80,                          // firmware, APP ID
                             0x20, 0x01, 0x00, 0x22}));                       // mask, flags, -, CRC
    d.appId1 = false;
    d.fwBugFix = 0x05;
    EXPECT_EQ(DiagnosticsV1SubMessage(d)[13], 0x05);
    EXPECT_EQ(DiagnosticsV2SubMessage(d)[16], 0x00);
    EXPECT_EQ(DiagnosticsV1SubMessage(d).size(), 1u + 17u);
    EXPECT_EQ(DiagnosticsV2SubMessage(d).size(), 1u + 20u);
}

TEST(SimTagBodies, ParametersMemsPerRawType10AndUnknown) {
    TagParameters p;
    p.steadyStateInterval = 0x0102;
    p.steadyStateRetries = 0x03;
    p.channelDetectInterval = 0x0405;
    p.noCommsTimeout = 0x0607;
    p.beaconSearchDuration = 0x0809;
    p.memsDeltaY = 0x0a;
    p.memsRange = 0x0b;
    p.memsLevelLow = 0x0c;
    p.memsLevelHigh = 0x0d;
    EXPECT_EQ(ParametersSubMessage(p),
              (TagSubMessage{0x0b, 0x02, 0x01, 0x03, 0x05, 0x04, 0x07, 0x06, 0x09, 0x08, 0x0a, 0x0b, 0x0c, 0x0d}));
    MemsCalcData m;
    m.minAccelExceptions = 0x21;
    m.stepRecognitionSlot = 0x2322;
    m.walkToStandDelay = 0x24;
    m.minStepsStandToWalk = 0x25;
    m.standToWalkSlot = 0x26;
    EXPECT_EQ(MemsCalcSubMessage(m), (TagSubMessage{0x3f, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26}));
    EXPECT_EQ(PerTestSubMessage(71), (TagSubMessage{0x07, 71}));
    EXPECT_EQ(RawDataSubMessage({0x01, 0xab, 0x10}), (TagSubMessage{0xfe, 0x03, 0x01, 0xab, 0x10}));
    EXPECT_EQ(RawDataSubMessage({}), (TagSubMessage{0xfe, 0x00}));
    EXPECT_TRUE(RawDataSubMessage(std::vector<uint8_t>(256)).empty());
    EXPECT_EQ(Type10SubMessage(0x33), (TagSubMessage{0x0a, 0x33}));
    EXPECT_EQ(UnknownSubMessage(5), (TagSubMessage{0x05}));
}

TEST(SimTagBodies, CountsTheRecordProducingSubMessages) {
    ActivityReport a;
    std::vector<TagSubMessage> subs = {ActivitySubMessage(a),  DiagnosticsV1SubMessage({}), ParametersSubMessage({}),
                                       PerTestSubMessage(1),   MemsCalcSubMessage({}),      RawDataSubMessage({1}),
                                       Type10SubMessage(0),    UnknownSubMessage(5)};
    EXPECT_EQ(RecordCount(subs), 3);
    a.type = 3;
    subs.push_back(ActivitySubMessage(a));
    a.type = 15;
    subs.push_back(ActivitySubMessage(a));
    subs.push_back(DiagnosticsV2SubMessage({}));
    EXPECT_EQ(RecordCount(subs), 6);
}

TEST(SimTagMessage, HeaderFieldsForMalformedMessages) {
    TagPacketHeader header;
    header.formatId = 1;
    header.announcedSubMessages = 3;
    EXPECT_EQ(TagMessagePayload(header, {{0x05}}),
              (std::vector<uint8_t>{0x00, 0x0a, 0x01, 0, 0, 0, 0, 0x00, 0x01, 0x03, 0x00, 0x05, 0x10}));
}

TEST(SimTagMessage, WireFrameCarriesLengthOpcodeAndChecksum) {
    EXPECT_EQ(TagMessageWire(RoutineTagMessage(0x01020304, 5)),
              (std::vector<uint8_t>{0x1a, 0x01, 0x14, 0x00,                                  // frame header
                                    0x00, 0x12, 0x02, 0x04, 0x03, 0x02, 0x01, 0x05, 0x01, 0x01, 0x00,
                                    0x01, 0x05, 0x78, 0x00, 0xc8, 0x00, 0x01, 0x1e, 0x03, 0x10,  // as above
                                    0xa6}));                                                 // XOR of all
}

TEST(SimTagMessage, RefusesWhatDoesNotFitInOneFrame) {
    std::vector<TagSubMessage> subs(26, TagSubMessage(9, 0x01));
    subs.push_back(TagSubMessage(4, 0x05));
    EXPECT_EQ(TagMessagePayload(TagPacketHeader{}, subs).size(), static_cast<size_t>(kMaxFrameData));
    subs.push_back({0x05});
    EXPECT_TRUE(TagMessagePayload(TagPacketHeader{}, subs).empty());
    EXPECT_TRUE(TagMessagePayload(TagPacketHeader{}, std::vector<TagSubMessage>(256, {0x05})).empty());
    EXPECT_TRUE(TagMessagePayload(TagPacketHeader{}, {{0x05}, {}}).empty()) << "an empty sub-message";
}

}  // namespace
