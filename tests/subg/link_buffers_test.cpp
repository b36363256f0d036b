#include "subg/link_buffers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/reset_line.h"
#include "platform/timing.h"
#include "subg/link_loan.h"
#include "subg/opcodes.h"
#include "subg/serial_listener.h"
#include "subg/uart_faults.h"
#include "support/fake_reset_line.h"

namespace {

class LinkBuffers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe(port_), 0);
        SerialFd = port_[1];
    }
    void TearDown() override {
        close(port_[0]);
        close(port_[1]);
    }

    std::vector<uint8_t> ReadPort(size_t n) {
        std::vector<uint8_t> bytes(n);
        EXPECT_EQ(read(port_[0], bytes.data(), n), static_cast<ssize_t>(n));
        return bytes;
    }

    static void Queue(const std::vector<uint8_t>& chunk) {
        pthread_mutex_lock(&TxMutex);
        PutMsgInQ(chunk.data(), static_cast<int>(chunk.size()));
        pthread_mutex_unlock(&TxMutex);
    }

    int port_[2];
};

TEST_F(LinkBuffers, SlotWritesExactlyTheFrameAndFreesItself) {
    const uint8_t led = 0x10;
    SendMsg(MakeRequest(SubGOp::LedWord, &led, 1));
    EXPECT_EQ(TxSlotLength(), 6);
    EXPECT_EQ(CheckMsgInQ(), 1);
    EXPECT_EQ(TxSlotLength(), 0);
    EXPECT_EQ(ReadPort(6), (std::vector<uint8_t>{1, 6, 20, 38, 0x10, 1 ^ 6 ^ 20 ^ 38 ^ 0x10}));
    EXPECT_EQ(CheckMsgInQ(), 1) << "an empty slot writes nothing";
}

TEST_F(LinkBuffers, AFullSlotMakesTheNextFrameGiveUp) {
    SendMsg(MakeRequest(SubGOp::GetSWVersion));
    SendMsg(MakeRequest(SubGOp::GetDiagnostics));
    CheckMsgInQ();
    EXPECT_EQ(ReadPort(5), (std::vector<uint8_t>{1, 5, 20, 20, 4}));
    EXPECT_EQ(CheckMsgInQ(), 1);
    EXPECT_EQ(TxSlotLength(), 0) << "the second frame was lost, not queued";
}

TEST_F(LinkBuffers, ABusyLockMakesSendGiveUpAndCheckReturnZero) {
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        pthread_mutex_lock(&TxMutex);
        held = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        pthread_mutex_unlock(&TxMutex);
    });
    while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(SendMsg(MakeRequest(SubGOp::GetSWVersion)), 1);
    EXPECT_EQ(CheckMsgInQ(), 0);
    release = true;
    holder.join();
    EXPECT_EQ(TxSlotLength(), 0);
}

TEST_F(LinkBuffers, AFailedWriteCountsAUartFaultAndDropsTheFrame) {
    SerialFd = -1;
    SendMsg(MakeRequest(SubGOp::GetSWVersion));
    EXPECT_EQ(CheckMsgInQ(), 1);
    EXPECT_EQ(TxSlotLength(), 0);
    EXPECT_EQ(UARTCommFaults(), 1);
}

TEST_F(LinkBuffers, AResetRequestPulsesTheLineAndHoldsTheLockThreeSeconds) {
    FakeResetLine line;

    SendMsg(MakeRequest(SubGOp::ResetBoard));
    std::atomic<bool> writing{true};
    auto start = std::chrono::steady_clock::now();
    std::thread writer([&] {
        CheckMsgInQ();
        writing = false;
    });
    bool sawLow = false, lockedOut = false;
    while (writing) {
        sawLow = sawLow || line.Value() == "0";
        if (pthread_mutex_trylock(&TxMutex) == 0) {
            pthread_mutex_unlock(&TxMutex);
        } else {
            lockedOut = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    writer.join();
    auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(ReadPort(5), (std::vector<uint8_t>{1, 5, 20, 23, 1 ^ 5 ^ 20 ^ 23}));
    EXPECT_TRUE(sawLow);
    EXPECT_TRUE(lockedOut);
    EXPECT_GE(elapsed, std::chrono::milliseconds(3500));
    EXPECT_EQ(line.Direction(), "out");
    EXPECT_EQ(line.Value(), "1");
}

TEST_F(LinkBuffers, ResetWithoutGpioFilesReportsFailure) {
    SetResetLineDir("/nonexistent/gpio109");
    EXPECT_EQ(HWResetSubGBoard(), 0);
}

TEST_F(LinkBuffers, ChunksAppendInOrder) {
    Queue({1, 2, 3});
    Queue({4, 5});
    EXPECT_EQ(InboundUnconsumed(), 5);
    EXPECT_EQ(InboundTail(), 5);
    EXPECT_EQ(std::vector<uint8_t>(InboundReadPos(), InboundReadPos() + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST_F(LinkBuffers, AChunkThatDoesNotFitIsDroppedWholeAndASmallerOneStillFits) {
    std::vector<uint8_t> big(kLinkBufferSize - 10, 0xAB);
    Queue(big);
    Queue(std::vector<uint8_t>(11, 0xCD));
    EXPECT_EQ(InboundUnconsumed(), kLinkBufferSize - 10);
    Queue(std::vector<uint8_t>(10, 0xEF));
    EXPECT_EQ(InboundUnconsumed(), kLinkBufferSize);
    EXPECT_EQ(InboundReadPos()[kLinkBufferSize - 1], 0xEF);
}

TEST_F(LinkBuffers, AChunkPastTheEndMovesTheUnconsumedBytesToTheStart) {
    std::vector<uint8_t> first(kLinkBufferSize - 100, 0x11);
    first[first.size() - 3] = 0x22;
    Queue(first);
    // The parser consumed all but the last three bytes of the first chunk.
    int consumed = static_cast<int>(first.size()) - 3;
    pthread_mutex_lock(&TxMutex);
    MoveInboundReadPos(consumed);
    LowerInboundCount(consumed);
    pthread_mutex_unlock(&TxMutex);

    Queue(std::vector<uint8_t>(200, 0x33));
    EXPECT_EQ(InboundUnconsumed(), 203);
    EXPECT_EQ(InboundTail(), 203);
    EXPECT_EQ(InboundReadPos()[0], 0x22);
    EXPECT_EQ(InboundReadPos()[202], 0x33);
}

TEST_F(LinkBuffers, TheParserSideNeverMovesPastTheQueuedBytes) {
    Queue({1, 2, 3, 4});
    const uint8_t* start = InboundReadPos();
    pthread_mutex_lock(&TxMutex);
    LowerInboundCount(10);
    MoveInboundReadPos(10);
    EXPECT_EQ(InboundUnconsumed(), 0);
    EXPECT_EQ(InboundReadPos() - start, 4);
    RewindInbound();
    pthread_mutex_unlock(&TxMutex);
    EXPECT_EQ(InboundTail(), 0);
    Queue({9});
    EXPECT_EQ(InboundReadPos()[0], 9);
}

// The borrower gathers in the listener's buffer: the listener's bytes reach
// the parser before the port is lent (while the parser holds the lock, the
// loan waits), and none of the borrower's bytes do after it.
TEST_F(LinkBuffers, ThePortIsLentOnlyOnceTheGatheredBytesAreHandedOnAndComesBackEmpty) {
    GatheringBuffer& rx = LinkRxBuffer();
    rx.length = 4;  // the first bytes of a tag message
    std::atomic<bool> borrowed{false};
    std::thread borrower([&] {
        if (!BorrowSerialLink(5000000)) return;
        borrowed = true;
        rx.length = 7;  // a boot loader's reply
        ReturnSerialLink();
    });
    pthread_mutex_lock(&TxMutex);  // a parser's pass
    bool lentWhileBusy = false;
    for (int i = 0; i < 100; ++i, MicroSecSleep(1000)) lentWhileBusy |= LendSerialLinkIfAsked();
    EXPECT_FALSE(lentWhileBusy);
    EXPECT_EQ(rx.length, 4);
    pthread_mutex_unlock(&TxMutex);
    bool lent = false;
    for (int i = 0; i < 5000 && !lent; ++i, MicroSecSleep(1000)) lent = LendSerialLinkIfAsked();
    borrower.join();
    EXPECT_TRUE(lent && borrowed);
    EXPECT_EQ(InboundUnconsumed(), 4);
    EXPECT_EQ(rx.length, 0);
}

}  // namespace
