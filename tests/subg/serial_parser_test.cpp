#include "subg/serial_parser.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/reply_table.h"
#include "subg/link_buffers.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "subg/scheduler.h"
#include "subgconfig/versions.h"

namespace {

std::vector<uint8_t> Reply(uint8_t opcode, std::vector<uint8_t> data = {}) {
    T7734FrameReply frame = MakeReply(opcode, data.data(), data.size());
    std::vector<uint8_t> wire(frame.length);
    ReplyToWire(frame, wire.data(), wire.size());
    return wire;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

class SerialParserTest : public ::testing::Test {
protected:
    void SetUp() override { SetReplyDispatch(BoardReplyDispatch()); }

    // One silence: the chunk is handed on, then the parser takes a pass.
    int Deliver(const std::vector<uint8_t>& chunk) {
        pthread_mutex_lock(&TxMutex);
        PutMsgInQ(chunk.data(), static_cast<int>(chunk.size()));
        int wait = ParseInboundQueue();
        pthread_mutex_unlock(&TxMutex);
        return wait;
    }

    static void AwaitReplyTo(uint8_t opcode, std::vector<uint8_t> data = {}) {
        AddSubGRequest(MakeRequest(opcode, data.data(), data.size()));
        T7734FrameRequest out;
        ASSERT_EQ(GetNextSubGBReq(&out), 1);
    }
};

TEST_F(SerialParserTest, TwoFramesInOneChunkAreBothHandledInOrder) {
    AwaitReplyTo(SubGOp::GetFreq, {0});
    AwaitReplyTo(SubGOp::GetOutputPower, {1});
    Deliver(Join({Reply(SubGOp::GetFreq, {0, 0x8B, 0x03, 0, 0}), Reply(SubGOp::GetOutputPower, {0x7F})}));
    EXPECT_EQ(AwaitedSubGRequests(), 0u);
    EXPECT_EQ(BoardMsg.opcode, SubGOp::GetOutputPower);
    EXPECT_EQ(InboundUnconsumed(), 0);
    EXPECT_EQ(InboundTail(), 0) << "an empty queue is rewound";
}

TEST_F(SerialParserTest, AFrameSplitAcrossChunksIsHandledWhenItsRestArrives) {
    AwaitReplyTo(SubGOp::GetSteadyStateInterval, {1});
    auto frame = Reply(SubGOp::GetSteadyStateInterval, {0x2C, 0x01});
    EXPECT_GT(Deliver({frame.begin(), frame.begin() + 2}), 0) << "fewer than four bytes: wait";
    EXPECT_GT(Deliver({frame.begin() + 2, frame.begin() + 5}), 0) << "header there, frame not: wait";
    EXPECT_EQ(AwaitedSubGRequests(), 1u);
    Deliver({frame.begin() + 5, frame.end()});
    EXPECT_EQ(AwaitedSubGRequests(), 0u);
    EXPECT_EQ(InboundUnconsumed(), 0);
}

TEST_F(SerialParserTest, ALengthBelowFiveEmptiesTheQueue) {
    for (uint8_t length : {4, 0}) {
        Deliver(Join({{length, 1, 20, 38}, Reply(SubGOp::LedWord, {0x10})}));
        EXPECT_EQ(InboundUnconsumed(), 0) << "length " << int{length};
        EXPECT_EQ(InboundTail(), 0);
    }
}

TEST_F(SerialParserTest, ABadChecksumLosesEveryFrameBehindIt) {
    AwaitReplyTo(SubGOp::GetOutputPower, {1});
    auto bad = Reply(SubGOp::LedWord, {0x10});
    bad.back() ^= 0x01;
    Deliver(Join({bad, Reply(SubGOp::GetOutputPower, {0x7F})}));
    EXPECT_EQ(AwaitedSubGRequests(), 1u);
    EXPECT_EQ(InboundUnconsumed(), 0);
}

TEST_F(SerialParserTest, AnLedAcknowledgementIsConsumedWhole) {
    Deliver(Reply(SubGOp::LedWord, {0x90}));
    EXPECT_EQ(InboundUnconsumed(), 0);
    EXPECT_EQ(BoardMsg.data[0], 0x90);
}

TEST_F(SerialParserTest, AReplyWithoutAHandlerIsSkippedAloneAndTheFramesBehindItAreKept) {
    AwaitReplyTo(SubGOp::GetOutputPower, {1});
    Deliver(Join({Reply(SubGOp::SetOutputPower), Reply(SubGOp::StopSetMEMSParams),
                  Reply(SubGOp::GetOutputPower, {0x7F})}));
    EXPECT_EQ(AwaitedSubGRequests(), 0u) << "the power reply behind them was handled";
    EXPECT_EQ(BoardMsg.opcode, SubGOp::GetOutputPower);
    EXPECT_EQ(InboundUnconsumed(), 0);
}

TEST_F(SerialParserTest, AnUnknownReplyStillSettlesItsRequest) {
    AwaitReplyTo(SubGOp::SetOutputPower, {0, 0x7F});
    Deliver(Reply(SubGOp::SetOutputPower));
    EXPECT_EQ(AwaitedSubGRequests(), 0u);
}

TEST_F(SerialParserTest, AReplyShorterThanItsHandlerNeedsIsNeverReadPast) {
    // A version reply with one data byte: its handler needs three. The bytes
    // behind it belong to the next frame and must not be taken as version.
    Deliver(Join({Reply(SubGOp::GetSWVersion, {1}), Reply(SubGOp::LedWord, {6})}));
    EXPECT_EQ(SubGBoardConnected, 0);
    EXPECT_EQ(SubGSwVersion[1], 0);
    EXPECT_EQ(InboundUnconsumed(), 0);
}

TEST_F(SerialParserTest, AFrameCutShortForGoodIsDroppedOnceLaterBytesMakeItBad) {
    auto version = Reply(SubGOp::GetSWVersion, {1, 6, 10});
    Deliver({version.begin(), version.begin() + 5});
    EXPECT_EQ(InboundUnconsumed(), 5);
    Deliver(Reply(SubGOp::LedWord, {0x10}));
    EXPECT_EQ(InboundUnconsumed(), 0) << "the cut frame swallowed bytes of the next and failed its checksum";
    EXPECT_EQ(SubGBoardConnected, 0);
    Deliver(Reply(SubGOp::LedWord, {0x10}));
    EXPECT_EQ(BoardMsg.opcode, SubGOp::LedWord) << "in step again";
}

TEST_F(SerialParserTest, TagMessagesSettleNoRequest) {
    AwaitReplyTo(SubGOp::GetSWVersion);
    Deliver(Reply(SubGOp::TagMessage, {0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(AwaitedSubGRequests(), 1u);
}

}  // namespace
