#include "tags/tag_decode.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/tags/tag_message_builder.h"

namespace {

constexpr timeval kArrival = {1796617261, 654321};

class TagDecode : public ::testing::Test {
protected:
    TagDecodeStatus Decode(const std::vector<uint8_t>& payload) {
        return DecodeTagMessage(payload.data(), static_cast<int>(payload.size()), kArrival, msg_.get());
    }
    TagDecodeStatus Decode(const TagMsgBuilder& builder) { return Decode(builder.Payload()); }

    const TagMessage& Msg() const { return *msg_; }
    const TimedSubGMsg& Record(int i) const { return msg_->records[i]; }
    template <class Report>
    const Report& ReportOf(int i) const {
        return std::get<Report>(Record(i).report);
    }

    std::unique_ptr<TagMessage> msg_ = std::make_unique<TagMessage>();
};

TEST_F(TagDecode, AnActivityReportBecomesOneRecordWithItsMessage) {
    TagMsgBuilder b;
    b.radio = 1;
    b.tagId = 0x12345678;
    b.rssiByte = 0xF0;
    b.Activity(SubMsgType::Activity, 0x2A, 0x1234, 0x5678, 3, 0x40, 0x83);
    ASSERT_EQ(Decode(b), TagDecodeStatus::Parsed);
    ASSERT_EQ(Msg().recordCount, 1);
    EXPECT_EQ(Record(0).tagId, 0x12345678u);
    EXPECT_EQ(Record(0).msgId, 0x2A) << "the report's own MsgID";
    EXPECT_EQ(Record(0).subMsgType, 1);
    EXPECT_EQ(Record(0).activityFlags, 0x83);
    EXPECT_EQ(Record(0).radio, 1);
    EXPECT_EQ(Record(0).rssi, -118);
    const auto& report = ReportOf<STANDARD_REPORT_STD>(0);
    EXPECT_EQ(report.Steps, 0x1234);
    EXPECT_EQ(report.StandingTime, 0x5678);
    EXPECT_EQ(report.LyingNum, 3);
    EXPECT_EQ(report.LyingTime, 0x40);
}

TEST_F(TagDecode, JustStoodUpAndUnforwardedReportsShareTheActivityLayout) {
    TagMsgBuilder b;
    b.Activity(SubMsgType::JustStoodUp, 9, 1, 2, 3, 4, 30).Activity(SubMsgType::ActivityNotForwarded, 8, 5);
    ASSERT_EQ(Decode(b), TagDecodeStatus::Parsed);
    ASSERT_EQ(Msg().recordCount, 2);
    EXPECT_EQ(Record(0).subMsgType, 15);
    EXPECT_EQ(Record(0).activityFlags, 30);
    EXPECT_EQ(ReportOf<STANDARD_REPORT_STD>(0).LyingTime, 4);
    EXPECT_EQ(Record(1).subMsgType, 3);
    EXPECT_EQ(Record(1).msgId, 8);
    EXPECT_EQ(ReportOf<STANDARD_REPORT_STD>(1).Steps, 5);
}

TEST_F(TagDecode, DiagnosticsOfEitherVersionDecodeLittleEndianAndSigned) {
    TagMsgBuilder b;
    b.msgId = 0x55;
    b.Sub(SubMsgType::Diagnostics, DiagV1Body()).Sub(SubMsgType::Diagnostics, DiagV2Body());
    ASSERT_EQ(Decode(b), TagDecodeStatus::Parsed);
    ASSERT_EQ(Msg().recordCount, 2);
    EXPECT_EQ(Msg().loggedCount, 0) << "their rows come from the records";
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Record(i).msgId, 0x55) << "message ID from the header";
        EXPECT_EQ(Record(i).subMsgType, 2);
    }
    const auto& old = ReportOf<TAG_DIAGNOSTICS_STD>(0);
    EXPECT_EQ(old.common.DiagStructVersionId, 1);
    EXPECT_EQ(old.common.BatteryStatus, 10000);
    EXPECT_EQ(old.FirmwareByte, 0x85);
    EXPECT_EQ(old.BitMask, 0x5A);
    EXPECT_EQ(old.CRC, 0x77);
    const auto& d = ReportOf<TAG_DIAGNOSTICS_STD_001>(1);
    EXPECT_EQ(d.common.BatteryStatus, 0x1234);
    EXPECT_EQ(d.common.RSSI, 0x41);
    EXPECT_EQ(d.common.Temperature, -2);
    EXPECT_EQ(d.FwMajor, 10);
    EXPECT_EQ(d.FwBugFix, 12);
    EXPECT_EQ(d.AppId, 0x80);
    EXPECT_EQ(d.BitMask, 0xA5);
    EXPECT_EQ(d.ExtraFlags, 1);
    EXPECT_EQ(d.CRC, 0xC3);
}

TEST_F(TagDecode, AParametersReportBecomesOneRecord) {
    TagMsgBuilder b;
    b.msgId = 0x21;
    b.Sub(SubMsgType::Parameters, ParamsBody());
    ASSERT_EQ(Decode(b), TagDecodeStatus::Parsed);
    ASSERT_EQ(Msg().recordCount, 1);
    EXPECT_EQ(Record(0).msgId, 0x21);
    const auto& p = ReportOf<PARAMS_REPORT_STD>(0);
    EXPECT_EQ(p.SubgSteadyStateInterval, 300);
    EXPECT_EQ(p.SubgChannelDetectInterval, 600);
    EXPECT_EQ(p.SubgNoCommsTimeOut, 0x0E10);
    EXPECT_EQ(p.BeaconSearchDuration, 60);
    EXPECT_EQ(p.MemsLevelHigh, 8);
}

TEST_F(TagDecode, LoggedOnlyKindsGiveNoRecordAndTheNextReportFollowsTheirBody) {
    TagMsgBuilder b;
    b.Sub(SubMsgType::PERTest, {0x41})
        .Sub(SubMsgType::MEMSCalc, {1, 2, 3, 4, 5, 6})
        .Sub(SubMsgType::RawData, {3, 0x01, 0xAB, 0x10})
        .Activity(SubMsgType::Activity, 0x77, 0x0102);
    ASSERT_EQ(Decode(b), TagDecodeStatus::Parsed);
    ASSERT_EQ(Msg().recordCount, 1);
    EXPECT_EQ(Record(0).msgId, 0x77);
    EXPECT_EQ(ReportOf<STANDARD_REPORT_STD>(0).Steps, 0x0102);
    ASSERT_EQ(Msg().loggedCount, 3);
    EXPECT_EQ(Msg().logged[0].type, SubMsgType::PERTest);
    EXPECT_EQ(Msg().logged[0].offset, 12);
    EXPECT_EQ(Msg().logged[0].length, 1);
    EXPECT_EQ(Msg().logged[1].type, SubMsgType::MEMSCalc);
    EXPECT_EQ(Msg().logged[1].offset, 14);
    EXPECT_EQ(Msg().logged[1].length, 6);
    EXPECT_EQ(Msg().logged[2].type, SubMsgType::RawData);
    EXPECT_EQ(Msg().logged[2].offset, 22) << "the data behind the length byte";
    EXPECT_EQ(Msg().logged[2].length, 3);
}

TEST_F(TagDecode, AnUnknownTypeIsConsumedAloneAndTypeTenSkipsOneByte) {
    TagMsgBuilder b;
    b.Sub(5).Sub(SubMsgType::Skipped, {SubMsgType::Activity}).Activity(SubMsgType::Activity, 4);
    ASSERT_EQ(Decode(b), TagDecodeStatus::Parsed);
    ASSERT_EQ(Msg().recordCount, 1) << "the byte behind type 10 is not read as a type";
    EXPECT_EQ(Record(0).msgId, 4);
    EXPECT_EQ(Msg().remaining, 0) << "count and position in step: only the RSSI byte was left";
}

TEST_F(TagDecode, AMessageWithoutSubMessagesIsParsed) {
    TagMsgBuilder b;
    ASSERT_EQ(Decode(b), TagDecodeStatus::Parsed);
    EXPECT_EQ(Msg().recordCount, 0);
    EXPECT_EQ(Msg().header.packetLength, 9);
    EXPECT_EQ(Msg().remaining, 0);
}

TEST_F(TagDecode, HeaderFieldsRssiAndMessageTime) {
    TagMsgBuilder b;
    b.radio = 5;
    b.tagId = 0xCAFEBABE;
    b.msgId = 0x33;
    b.intervalLength = 3;
    b.delayCount = 2;
    b.rssiByte = 0xF0;
    ASSERT_EQ(Decode(b), TagDecodeStatus::Parsed);
    EXPECT_EQ(Msg().radio, 5);
    EXPECT_STREQ(RadioName(Msg().radio), "RADIO_2");
    EXPECT_STREQ(RadioName(0), "RADIO_1");
    EXPECT_EQ(Msg().header.tagId, 0xCAFEBABEu);
    EXPECT_EQ(Msg().header.msgId, 0x33);
    EXPECT_EQ(Msg().rssi, -118);
    EXPECT_EQ(Msg().msgTime.tv_sec, kArrival.tv_sec - 600) << "delay 2 of interval 3";
    EXPECT_EQ(Msg().msgTime.tv_usec, kArrival.tv_usec);
    b.delayCount = 0;
    ASSERT_EQ(Decode(b), TagDecodeStatus::Parsed);
    EXPECT_EQ(Msg().msgTime.tv_sec, kArrival.tv_sec);
}

TEST(ConvertRSSI, TheByteIsSignedAndBiased) {
    EXPECT_EQ(ConvertRSSI(static_cast<char>(0x80)), -230);
    EXPECT_EQ(ConvertRSSI(static_cast<char>(0x7F)), 25);
    EXPECT_EQ(ConvertRSSI(static_cast<char>(0x00)), -102);
    EXPECT_EQ(ConvertRSSI(static_cast<char>(0x10)), -86);
    EXPECT_EQ(ConvertRSSI(static_cast<char>(0xF0)), -118);
}

TEST_F(TagDecode, FailuresRejectTheMessage) {
    TagMsgBuilder wrongFormat;
    wrongFormat.formatId = 1;
    wrongFormat.Activity(SubMsgType::Activity, 1);
    EXPECT_EQ(Decode(wrongFormat), TagDecodeStatus::FormatError);
    EXPECT_EQ(Msg().remaining, 0);

    TagMsgBuilder badDiagVersion;
    badDiagVersion.Activity(SubMsgType::Activity, 1).Sub(SubMsgType::Diagnostics, {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                                   0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Decode(badDiagVersion), TagDecodeStatus::FormatError);
    EXPECT_EQ(Msg().remaining, 0);

    std::vector<uint8_t> shortBody = TagMsgBuilder().Sub(SubMsgType::Parameters, {1, 2, 3, 4}).Payload();
    EXPECT_EQ(Decode(shortBody), TagDecodeStatus::FormatError) << "a body longer than what remains";

    std::vector<uint8_t> headerCut = TagMsgBuilder().Payload();
    headerCut.resize(10);
    EXPECT_EQ(Decode(headerCut), TagDecodeStatus::HeaderShort);
}

TEST_F(TagDecode, TheRssiByteMustLieBehindTheHeaderAndInsideTheFrame) {
    std::vector<uint8_t> payload = TagMsgBuilder().Activity(SubMsgType::Activity, 1).Payload();
    payload[1] = static_cast<uint8_t>(payload.size() - 2);
    EXPECT_EQ(Decode(payload), TagDecodeStatus::FormatError) << "RSSI position one past the frame";
    payload[1] = 8;
    EXPECT_EQ(Decode(payload), TagDecodeStatus::FormatError) << "RSSI position inside the header";
    payload[1] = 9;
    EXPECT_EQ(Decode(payload), TagDecodeStatus::Parsed);
    EXPECT_EQ(Msg().rssi, ConvertRSSI(static_cast<char>(payload[11])));
}

TEST_F(TagDecode, BytesRunningOutAfterTheFirstRecordDeliverIt) {
    TagMsgBuilder b;
    b.announced = 3;
    b.Activity(SubMsgType::Activity, 1, 42);
    ASSERT_EQ(Decode(b), TagDecodeStatus::Parsed);
    EXPECT_EQ(Msg().recordCount, 1);
    EXPECT_EQ(Msg().remaining, 0);
}

TEST_F(TagDecode, TheRemainingCountNeverGoesBelowZero) {
    // The report's last byte is the RSSI byte itself: nothing is left for it.
    std::vector<uint8_t> payload = TagMsgBuilder().Activity(SubMsgType::Activity, 1).Payload();
    payload.pop_back();
    payload[1] = static_cast<uint8_t>(payload.size() - 3);
    ASSERT_EQ(Decode(payload), TagDecodeStatus::Parsed);
    EXPECT_EQ(Msg().remaining, 0);
}

TEST_F(TagDecode, EveryRecordOfAFullFrameIsKept) {
    TagMsgBuilder b;
    for (int i = 0; i < kMaxTagRecords; ++i) b.Activity(SubMsgType::Activity, static_cast<uint8_t>(i));
    T7734FrameReply frame = b.Frame();
    ASSERT_LE(frame.length, kMaxFrameLen) << "the largest message a frame can carry";
    ASSERT_EQ(DecodeTagMessage(frame.data, frame.length - kFrameOverhead, kArrival, msg_.get()),
              TagDecodeStatus::Parsed);
    ASSERT_EQ(Msg().recordCount, kMaxTagRecords);
    EXPECT_GT(kMaxTagRecords, 16);
    for (int i = 0; i < kMaxTagRecords; ++i) EXPECT_EQ(Record(i).msgId, i);
}

TEST_F(TagDecode, APayloadLargerThanAnyFrameCannotOverrunTheRecordTable) {
    std::vector<uint8_t> payload = {0, 255, 2, 1, 0, 0, 0, 1, 1, 40, 0};
    for (int i = 0; i < 40; ++i) {
        payload.push_back(SubMsgType::Activity);
        payload.insert(payload.end(), kActivityBodySize, static_cast<uint8_t>(i));
    }
    payload.push_back(0x10);
    EXPECT_EQ(Decode(payload), TagDecodeStatus::FormatError);
    EXPECT_EQ(Msg().recordCount, kMaxTagRecords);
}

}  // namespace
