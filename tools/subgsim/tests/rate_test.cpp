#include "tools/subgsim/sim_rate.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::seconds;
using Clock = RateSchedule::Clock;

TEST(SimTagRate, ThreeHundredASecondAreEvenlySpaced) {
    EXPECT_EQ(RateOffset(300, 0), nanoseconds(0));
    EXPECT_EQ(RateOffset(300, 1), nanoseconds(3333333));
    EXPECT_EQ(RateOffset(300, 2), nanoseconds(6666666));
    EXPECT_EQ(RateOffset(300, 3), nanoseconds(10000000));
    EXPECT_EQ(RateOffset(300, 300), seconds(1));
    for (uint64_t k = 0; k < 3000; ++k) {
        nanoseconds gap = RateOffset(300, k + 1) - RateOffset(300, k);
        ASSERT_TRUE(gap == nanoseconds(3333333) || gap == nanoseconds(3333334)) << k << ": " << gap.count();
    }
    EXPECT_EQ(RateOffset(300, 3000), seconds(10)) << "no drift";
}

TEST(SimTagRate, OtherRatesAndLongRuns) {
    EXPECT_EQ(RateOffset(1, 5), seconds(5));
    EXPECT_EQ(RateOffset(1000, 1), milliseconds(1));
    EXPECT_EQ(RateOffset(7, 8), nanoseconds(1142857142));
    // Ten years at the highest rate without overflow.
    EXPECT_EQ(RateOffset(kMaxTagRate, uint64_t{315360000000}), seconds(315360000));
    EXPECT_EQ(RateOffset(0, 5), nanoseconds(0));
}

TEST(SimTagRate, ScheduleStartsOnePeriodOnAndKeepsItsGrid) {
    const Clock::time_point t0{seconds(100)};
    RateSchedule rate = StartRate(300, t0);
    EXPECT_EQ(NextDue(rate), t0 + nanoseconds(3333333));
    AdvanceRate(&rate, NextDue(rate) + milliseconds(1));  // a little late: no shift
    EXPECT_EQ(NextDue(rate), t0 + nanoseconds(6666666));
    AdvanceRate(&rate, t0 + milliseconds(50));  // behind, but within reach: catch up
    EXPECT_EQ(NextDue(rate), t0 + nanoseconds(10000000));
}

TEST(SimTagRate, FarBehindStartsAfreshInsteadOfABurst) {
    const Clock::time_point t0{seconds(100)};
    RateSchedule rate = StartRate(300, t0);
    const Clock::time_point late = NextDue(rate) + kMaxRateLag + milliseconds(1);
    AdvanceRate(&rate, late);
    EXPECT_EQ(NextDue(rate), late + nanoseconds(3333333));
}

}  // namespace
