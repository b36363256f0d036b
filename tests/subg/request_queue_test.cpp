#include "subg/request_queue.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/clock.h"
#include "subg/opcodes.h"
#include "support/fake_reset_line.h"

namespace {

time_t FakeNow = 1000000;
time_t FakeClock() { return FakeNow; }

class RequestQueue : public ::testing::Test {
protected:
    void SetUp() override { SetNowSecondsSource(FakeClock); }
    void TearDown() override { SetNowSecondsSource(nullptr); }

    static T7734FrameRequest Request(uint8_t opcode, std::initializer_list<uint8_t> data = {}) {
        return MakeRequest(opcode, data.begin(), data.size());
    }
    static T7734FrameReply Reply(uint8_t opcode) { return MakeReply(opcode); }

    static int NextOpcode() {
        T7734FrameRequest out{};
        return GetNextSubGBReq(&out) ? out.opcode : -1;
    }
};

TEST_F(RequestQueue, AnEqualRequestIsDroppedUntilItsReplyHasArrived) {
    AddSubGRequest(Request(SubGOp::GetFreq, {0}));
    AddSubGRequest(Request(SubGOp::GetFreq, {0}));
    EXPECT_EQ(PendingSubGRequests(), 1u);
    EXPECT_EQ(NextOpcode(), SubGOp::GetFreq);
    AddSubGRequest(Request(SubGOp::GetFreq, {0}));
    EXPECT_EQ(PendingSubGRequests(), 0u) << "still awaited: a duplicate";
    RMSubGRequest(Reply(SubGOp::GetFreq));
    AddSubGRequest(Request(SubGOp::GetFreq, {0}));
    EXPECT_EQ(PendingSubGRequests(), 1u);
}

TEST_F(RequestQueue, DataDecideDuplicatesAndAShorterPrefixCountsAsOne) {
    AddSubGRequest(Request(SubGOp::GetFreq, {0}));
    AddSubGRequest(Request(SubGOp::GetFreq, {1}));
    EXPECT_EQ(PendingSubGRequests(), 2u) << "other data: both radios are asked";
    AddSubGRequest(Request(SubGOp::ScanRSSI, {2, 1, 0}));
    AddSubGRequest(Request(SubGOp::ScanRSSI, {2, 1}));
    AddSubGRequest(Request(SubGOp::ScanRSSI));
    EXPECT_EQ(PendingSubGRequests(), 3u);
    AddSubGRequest(Request(SubGOp::ScanRSSI, {2, 1, 0, 7}));
    EXPECT_EQ(PendingSubGRequests(), 4u) << "longer data are not a prefix of the queued";
}

TEST_F(RequestQueue, PendingRequestsGoBeforeReSendsInArrivalOrder) {
    AddSubGRequest(Request(SubGOp::GetSWVersion));
    EXPECT_EQ(NextOpcode(), SubGOp::GetSWVersion);
    FakeNow += 10;
    AddSubGRequest(Request(SubGOp::GetOutputPower, {1}));
    AddSubGRequest(Request(SubGOp::GetSteadyStateInterval, {1}));
    EXPECT_EQ(NextOpcode(), SubGOp::GetOutputPower);
    EXPECT_EQ(NextOpcode(), SubGOp::GetSteadyStateInterval);
    EXPECT_EQ(NextOpcode(), SubGOp::GetSWVersion) << "the overdue one, once nothing is pending";
}

TEST_F(RequestQueue, AnUnansweredRequestGoesOutAgainAfterMoreThanFiveSeconds) {
    AddSubGRequest(Request(SubGOp::GetDiagnostics));
    EXPECT_EQ(NextOpcode(), SubGOp::GetDiagnostics);
    FakeNow += 5;
    EXPECT_EQ(NextOpcode(), -1);
    FakeNow += 1;
    EXPECT_EQ(NextOpcode(), SubGOp::GetDiagnostics);
    EXPECT_EQ(AwaitedSubGRequests(), 1u);
    EXPECT_EQ(NextOpcode(), -1) << "re-stamped when sent again";
}

TEST_F(RequestQueue, AReSentRequestMovesToTheEndOfTheAwaitedList) {
    AddSubGRequest(Request(SubGOp::GetDiagnostics));
    EXPECT_EQ(NextOpcode(), SubGOp::GetDiagnostics);
    FakeNow += 3;
    AddSubGRequest(Request(SubGOp::GetAppChecksum));
    EXPECT_EQ(NextOpcode(), SubGOp::GetAppChecksum);
    FakeNow += 3;
    EXPECT_EQ(NextOpcode(), SubGOp::GetDiagnostics);
    RMSubGRequest(Reply(SubGOp::GetAppChecksum));
    FakeNow += 6;
    EXPECT_EQ(NextOpcode(), SubGOp::GetDiagnostics);
}

TEST_F(RequestQueue, OneReplySettlesOnlyTheOldestEqualRequest) {
    AddSubGRequest(Request(SubGOp::GetFreq, {0}));
    AddSubGRequest(Request(SubGOp::GetFreq, {1}));
    NextOpcode();
    NextOpcode();
    RMSubGRequest(Reply(SubGOp::GetFreq));
    EXPECT_EQ(AwaitedSubGRequests(), 1u);
    FakeNow += 6;
    T7734FrameRequest out{};
    ASSERT_EQ(GetNextSubGBReq(&out), 1);
    EXPECT_EQ(out.data[0], 1) << "radio 0's question was the one settled";
}

TEST_F(RequestQueue, TagMessagesSettleNothing) {
    AddSubGRequest(Request(SubGOp::GetSWVersion));
    NextOpcode();
    RMSubGRequest(Reply(SubGOp::TagMessage));
    EXPECT_EQ(AwaitedSubGRequests(), 1u);
}

TEST_F(RequestQueue, TagFirmwareBlocksAreNeverSentAgain) {
    for (uint8_t op : {SubGOp::TagFwBlock, SubGOp::TagFwBlock001, SubGOp::TagFwBlock002}) {
        AddSubGRequest(Request(op, {1, 2, 3}));
        EXPECT_EQ(NextOpcode(), op);
    }
    EXPECT_EQ(AwaitedSubGRequests(), 0u);
    FakeNow += 60;
    EXPECT_EQ(NextOpcode(), -1);
}

TEST_F(RequestQueue, HandedOutFramesCarryAFreshChecksum) {
    T7734FrameRequest frame = Request(SubGOp::LedWord, {0x50});
    frame.checksum = 0;
    AddSubGRequest(frame);
    T7734FrameRequest out{};
    ASSERT_EQ(GetNextSubGBReq(&out), 1);
    EXPECT_EQ(out.checksum, CalcCSReq(out));
    EXPECT_NE(out.checksum, 0);
}

TEST_F(RequestQueue, ARunawayPendingListIsBounded) {
    for (int i = 0; i < 2000; ++i) {
        AddSubGRequest(Request(SubGOp::SetSerialNumber, {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)}));
    }
    EXPECT_EQ(PendingSubGRequests(), 512u);
}

TEST_F(RequestQueue, HandingOutAResetRequestPulsesTheLineFirst) {
    FakeResetLine line;
    SetNowSecondsSource(nullptr);

    AddSubGRequest(Request(SubGOp::ResetBoard));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(NextOpcode(), SubGOp::ResetBoard);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(550));
    EXPECT_EQ(line.Direction(), "out");
    EXPECT_EQ(line.Value(), "1");
}

}  // namespace
