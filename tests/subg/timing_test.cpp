#include "platform/timing.h"
#include "platform/wake_signal.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

long long MillisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(Timing, MicroSecSleepTakesAtLeastItsTimeAndAcceptsWholeSeconds) {
    auto start = Clock::now();
    MicroSecSleep(20000);
    EXPECT_GE(MillisSince(start), 20);
    start = Clock::now();
    MicroSecSleep(1100000);
    EXPECT_GE(MillisSince(start), 1100);
}

TEST(Timing, WaitForDataOnNoDescriptorIsAPlainSleep) {
    auto start = Clock::now();
    EXPECT_EQ(WaitForData(0, timeval{0, 50000}), 0);
    EXPECT_GE(MillisSince(start), 50);
}

TEST(Timing, WaitForDataRejectsANegativeDescriptor) { EXPECT_EQ(WaitForData(-1, timeval{0, 1000}), 0); }

TEST(Timing, WaitForDataSeesBytesArriveAndTimesOutWithout) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(WaitForData(fds[0], timeval{0, 20000}), 0);
    std::thread writer([&] {
        MicroSecSleep(30000);
        EXPECT_EQ(write(fds[1], "x", 1), 1);
    });
    EXPECT_EQ(WaitForData(fds[0], timeval{30, 0}), 1);
    writer.join();
    close(fds[0]);
    close(fds[1]);
}

TEST(Timing, WaitForDataOnAClosedDescriptorFailsQuietly) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(WaitForData(fds[0], timeval{0, 1000}), 0);
}

TEST(Timing, AWakeSignalIsNeverLostAndWakesAWaiterAtOnce) {
    WakeSignal signal;
    signal.Raise();
    EXPECT_TRUE(signal.WaitFor(0)) << "raised before the wait";
    auto start = Clock::now();
    EXPECT_FALSE(signal.WaitFor(20000)) << "taken by the first wait";
    EXPECT_GE(MillisSince(start), 20);
    std::thread raiser([&] {
        MicroSecSleep(30000);
        signal.Raise();
    });
    start = Clock::now();
    EXPECT_TRUE(signal.WaitFor(30000000));
    EXPECT_LT(MillisSince(start), 10000);
    raiser.join();
}

}  // namespace
