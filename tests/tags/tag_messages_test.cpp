#include "tags/tag_messages.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/reply_table.h"
#include "platform/clock.h"
#include "subg/led_word.h"
#include "subg/link_buffers.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "subg/scheduler.h"
#include "subg/serial_parser.h"
#include "subg/serial_listener.h"
#include "support/scratch_dir.h"
#include "tags/csv_logs.h"
#include "tags/sub_msg_list.h"
#include "tests/tags/tag_message_builder.h"

namespace {

constexpr timeval kArrival = {1796617261, 654321};
constexpr uint32_t T = static_cast<uint32_t>(kArrival.tv_sec);
constexpr time_t kClock = 1796617300;

time_t FakeClock() { return kClock; }

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
    return lines;
}

class TagMessages : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
        SetNowSecondsSource(FakeClock);
        std::strcpy(LogDir, dir_.Path().c_str());
        ASSERT_EQ(pipe(port_), 0);
        ASSERT_EQ(fcntl(port_[0], F_SETFL, O_NONBLOCK), 0);
        SerialFd = port_[1];
        SetReplyDispatch(BoardReplyDispatch());
    }
    void TearDown() override {
        close(port_[0]);
        close(port_[1]);
        SetNowSecondsSource(nullptr);
    }

    // As the parser does: TxMutex held while the frame is handled, the pass
    // finished once it is free.
    static int Handle(const T7734FrameReply& frame) {
        pthread_mutex_lock(&TxMutex);
        int rc = ParseTagMsgAt(frame, kArrival);
        pthread_mutex_unlock(&TxMutex);
        FinishParserPass();
        return rc;
    }
    static int Handle(const TagMsgBuilder& b) { return Handle(b.Frame()); }

    static std::vector<TimedSubGMsg> Drain() {
        std::vector<TimedSubGMsg> records;
        TimedSubGMsg r;
        while (TakeTagData(&r)) records.push_back(r);
        return records;
    }

    std::vector<uint8_t> PortBytes() {
        std::vector<uint8_t> bytes(512);
        ssize_t n = read(port_[0], bytes.data(), bytes.size());
        bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return bytes;
    }

    std::vector<std::string> ActivityRows() const {
        std::vector<std::string> lines = Lines(CsvLogPath(CsvLog::TagsActivity, dir_.Path().c_str(), kClock));
        if (!lines.empty()) lines.erase(lines.begin());  // header
        return lines;
    }

    ScratchDir dir_{"tg"};
    int port_[2];
};

TEST_F(TagMessages, AParsedMessageIsDatedHandedOverLoggedAndLightsTheTrafficLed) {
    OpenParserLogs();
    TagMsgBuilder b;
    b.intervalLength = 3;
    b.Activity(SubMsgType::Activity, 10, 100)
        .Activity(SubMsgType::Activity, 11, 110)
        .Activity(SubMsgType::Activity, 12, 120);
    EXPECT_EQ(Handle(b), kFrameTaken);

    std::vector<TimedSubGMsg> records = Drain();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].seconds, T - 1800);
    EXPECT_EQ(records[1].seconds, T - 900);
    EXPECT_EQ(records[2].seconds, T);
    EXPECT_EQ(records[2].micros, 654321u);
    EXPECT_EQ(std::get<STANDARD_REPORT_STD>(records[1].report).Steps, 110);
    EXPECT_EQ(records[1].rssi, -86);

    std::vector<std::string> rows = ActivityRows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], FormatActivityRow(records[0]));
    EXPECT_EQ(rows[2], FormatActivityRow(records[2]));

    EXPECT_EQ(PacketCounter, 1u);
    EXPECT_EQ(LastTagMessageTime, kClock);
    EXPECT_EQ(TagCommTimeout, 0);
    EXPECT_EQ(LedsWord, 0x90);
    std::vector<uint8_t> wire = PortBytes();
    T7734FrameRequest led;
    ASSERT_EQ(RequestFromWire(wire.data(), wire.size(), &led), 6) << "the LED word went straight out";
    EXPECT_EQ(led.opcode, SubGOp::LedWord);
    EXPECT_EQ(led.data[0], 0x90);
}

TEST_F(TagMessages, ATagMessageEndsATagTimeout) {
    OpenParserLogs();
    TagCommTimeout = 1;
    LedsWord = 0x25;
    EXPECT_EQ(Handle(TagMsgBuilder()), kFrameTaken);
    EXPECT_EQ(TagCommTimeout, 0);
    EXPECT_EQ(LedsWord, 0xA5);
    EXPECT_EQ(Drain().size(), 0u) << "no sub-messages, nothing to hand over";
}

TEST_F(TagMessages, UnforwardedReportsStayBehindAndAClosingJustStoodUpReportComesLast) {
    OpenParserLogs();
    TagMsgBuilder b;
    b.intervalLength = 6;
    b.Activity(SubMsgType::Activity, 20)
        .Activity(SubMsgType::ActivityNotForwarded, 21)
        .Activity(SubMsgType::JustStoodUp, 22, 0, 0, 0, 0, 30);
    EXPECT_EQ(Handle(b), kFrameTaken);
    std::vector<TimedSubGMsg> records = Drain();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].subMsgType, 1u);
    EXPECT_EQ(records[0].seconds, T - 240 - 1800);
    EXPECT_EQ(records[1].subMsgType, 15u);
    EXPECT_EQ(records[1].seconds, T);
    std::vector<std::string> rows = ActivityRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], FormatActivityRow(records[0]));
    EXPECT_EQ(rows[1], FormatJustStoodUpRow(records[1]));
}

TEST_F(TagMessages, AFormatErrorDropsTheWholeMessage) {
    OpenParserLogs();
    TagMsgBuilder badVersion;
    badVersion.Activity(SubMsgType::Activity, 1).Sub(SubMsgType::Diagnostics, std::vector<uint8_t>(20, 3));
    TagMsgBuilder formatOne;
    formatOne.formatId = 1;
    formatOne.Activity(SubMsgType::Activity, 1);
    for (const TagMsgBuilder* b : {&badVersion, &formatOne}) {
        EXPECT_EQ(Handle(*b), kDiscardQueue);
        EXPECT_EQ(Drain().size(), 0u);
        EXPECT_EQ(ActivityRows().size(), 0u);
        EXPECT_EQ(PacketCounter, 0u);
        EXPECT_EQ(LastTagMessageTime, 0);
        EXPECT_EQ(LedsWord, 0x10);
        EXPECT_EQ(PortBytes().size(), 0u);
    }
}

TEST_F(TagMessages, AMessageTooShortToLookAtIsPassedOver) {
    const uint8_t one = 0;
    EXPECT_EQ(Handle(MakeReply(SubGOp::TagMessage, &one, 1)), kFrameTaken);
    EXPECT_EQ(LastTagMessageTime, 0);
    EXPECT_EQ(PortBytes().size(), 0u);
    const uint8_t header[] = {0, 9, 2, 1, 0, 0, 0, 1, 1, 0};
    EXPECT_EQ(Handle(MakeReply(SubGOp::TagMessage, header, sizeof(header))), kDiscardQueue)
        << "a cut header is a format error";
}

TEST_F(TagMessages, BytesRunningOutDeliverTheRecordsReadSoFar) {
    OpenParserLogs();
    TagMsgBuilder b;
    b.announced = 3;
    b.Activity(SubMsgType::Activity, 1);
    EXPECT_EQ(Handle(b), kFrameTaken);
    EXPECT_EQ(Drain().size(), 1u);
    EXPECT_EQ(PacketCounter, 1u);
}

TEST_F(TagMessages, WithoutTheActivityLogRecordsStillReachTheBackbone) {
    std::string missing = dir_.Path() + "/none/act.csv";
    std::strcpy(LogFile, missing.c_str());
    OpenParserLogs();
    ASSERT_FALSE(CsvLogOpen(CsvLog::TagsActivity));
    TagMsgBuilder b;
    b.Activity(SubMsgType::Activity, 1).Activity(SubMsgType::JustStoodUp, 2, 0, 0, 0, 0, 4);
    EXPECT_EQ(Handle(b), kFrameTaken);
    EXPECT_EQ(Drain().size(), 2u);
}

TEST_F(TagMessages, MoreThanSixteenReportsAreAllHandedOverInOrder) {
    OpenParserLogs();
    TagMsgBuilder b;
    b.intervalLength = 1;
    for (int i = 0; i < 20; ++i) b.Activity(SubMsgType::Activity, static_cast<uint8_t>(i));
    EXPECT_EQ(Handle(b), kFrameTaken);
    std::vector<TimedSubGMsg> records = Drain();
    ASSERT_EQ(records.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(records[i].msgId, i);
        EXPECT_EQ(records[i].seconds, T - static_cast<uint32_t>(19 - i) * 300);
    }
    EXPECT_EQ(ActivityRows().size(), 20u);
}

TEST_F(TagMessages, LoggedSubMessagesGoToTheirOwnLogs) {
    OpenParserLogs();
    OpenPERTestFile();
    TagMsgBuilder b;
    b.delayCount = 1;
    b.Sub(SubMsgType::Diagnostics, DiagV2Body())
        .Sub(SubMsgType::Parameters, ParamsBody())
        .Sub(SubMsgType::MEMSCalc, {1, 2, 3, 4, 5, 6})
        .Sub(SubMsgType::RawData, {3, 0x01, 0xAB, 0x10})
        .Sub(SubMsgType::PERTest, {0x41});
    EXPECT_EQ(Handle(b), kFrameTaken);
    auto last = [&](CsvLog log) {
        std::vector<std::string> lines = Lines(CsvLogPath(log, dir_.Path().c_str(), kClock));
        return lines.empty() ? std::string() : lines.back();
    };
    std::vector<TimedSubGMsg> records = Drain();
    ASSERT_EQ(records.size(), 2u) << "diagnostics and parameters records";
    const uint8_t mems[] = {1, 2, 3, 4, 5, 6}, raw[] = {0x01, 0xAB, 0x10};
    const auto& diag = std::get<TAG_DIAGNOSTICS_STD_001>(records[0].report);
    EXPECT_EQ(last(CsvLog::TagDiag), FormatTagDiagRow(b.tagId, T, diag));
    EXPECT_EQ(last(CsvLog::TagParam), FormatTagParamRow(b.tagId, T, std::get<PARAMS_REPORT_STD>(records[1].report)));
    EXPECT_EQ(last(CsvLog::MEMSCalc), FormatMEMSCalcRow(b.tagId, kArrival, mems));
    EXPECT_EQ(last(CsvLog::RawData), FormatRawDataRow(b.tagId, kArrival, raw, 3));
    timeval msgTime = {kArrival.tv_sec - 300, kArrival.tv_usec};
    EXPECT_EQ(last(CsvLog::PERTest), FormatPERRow(msgTime, b.tagId, b.msgId, 0x41));
    EXPECT_EQ(PacketCounter, 1u);
}

// The parser's view: a tag frame is taken whole, and a bad one drops what
// is queued behind it.
TEST_F(TagMessages, ThroughTheParser) {
    OpenParserLogs();
    TagMsgBuilder good;
    good.Activity(SubMsgType::Activity, 1);
    TagMsgBuilder bad;
    bad.formatId = 1;
    for (const TagMsgBuilder* first : {&good, &bad}) {
        AddSubGRequest(MakeRequest(SubGOp::GetOutputPower));
        T7734FrameRequest sent;
        ASSERT_EQ(GetNextSubGBReq(&sent), 1);
        std::vector<uint8_t> chunk(2 * kMaxFrameLen);
        size_t n = ReplyToWire(first->Frame(), chunk.data(), chunk.size());
        const uint8_t power = 0x7F;
        n += ReplyToWire(MakeReply(SubGOp::GetOutputPower, &power, 1), chunk.data() + n, chunk.size() - n);
        pthread_mutex_lock(&TxMutex);
        PutMsgInQ(chunk.data(), static_cast<int>(n));
        ParseInboundQueue();
        pthread_mutex_unlock(&TxMutex);
        FinishParserPass();
        EXPECT_EQ(InboundUnconsumed(), 0);
        EXPECT_EQ(AwaitedSubGRequests(), first == &good ? 0u : 1u);
        EXPECT_EQ(Drain().size(), first == &good ? 1u : 0u);
        RMSubGRequest(MakeReply(SubGOp::GetOutputPower));
    }
}

}  // namespace
