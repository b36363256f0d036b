#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/log.h"
#include "platform/log_limiter.h"

namespace {

constexpr long long kSecond = 1000 * 1000;

// One text's lines at the given seconds: what passed, and the counts said
// before a line.
struct LimiterCase {
    const char* what;
    std::vector<double> seconds;
    std::string passed;  // one character per line: 'y' passed, '.' held back
    std::vector<uint64_t> heldBefore;
};

class LogRateLimiterTest : public testing::TestWithParam<LimiterCase> {};

TEST_P(LogRateLimiterTest, PassesTheFirstLinesOfAMinuteAndCountsTheRest) {
    const LimiterCase& c = GetParam();
    LogRateLimiter limiter(1);
    std::string passed;
    std::vector<uint64_t> heldBefore;
    for (double s : c.seconds) {
        const LogRateLimiter::Verdict verdict = limiter.Admit(0, static_cast<long long>(s * kSecond));
        passed += verdict.pass ? 'y' : '.';
        heldBefore.push_back(verdict.heldBefore);
    }
    EXPECT_EQ(passed, c.passed);
    EXPECT_EQ(heldBefore, c.heldBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Log, LogRateLimiterTest,
    testing::Values(LimiterCase{"a line that comes once passes", {100}, "y", {0}},
                    LimiterCase{"three a minute pass, the rest are held",
                                {0, 1, 2, 3, 59.9},
                                "yyy..",
                                {0, 0, 0, 0, 0}},
                    LimiterCase{"the minute's count comes before the next minute's first line",
                                {0, 0, 0, 0, 0, 60, 61},
                                "yyy..yy",
                                {0, 0, 0, 0, 0, 2, 0}},
                    LimiterCase{"a minute without lines held back says nothing",
                                {0, 1, 2, 200, 201, 202, 203},
                                "yyyyyy.",
                                {0, 0, 0, 0, 0, 0, 0}}),
    [](const auto& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p) name += isalnum(*p) ? *p : '_';
        return name;
    });

TEST(Log, EachTextHasItsOwnMinuteAndEndedMinutesAreSaidOnce) {
    LogRateLimiter limiter(2);
    for (int i = 0; i < 10; ++i) limiter.Admit(0, i * kSecond);
    // The other text is not held back by the first one's flood.
    EXPECT_TRUE(limiter.Admit(1, 10 * kSecond).pass);

    EXPECT_TRUE(limiter.TakeEnded(59 * kSecond).empty());
    using Ended = std::vector<std::pair<size_t, uint64_t>>;
    EXPECT_EQ(limiter.TakeEnded(60 * kSecond), (Ended{{0, 7}}));
    EXPECT_TRUE(limiter.TakeEnded(61 * kSecond).empty()) << "said once";
    // Its window closed with the count: the next line passes at once, with
    // nothing said before it.
    const LogRateLimiter::Verdict next = limiter.Admit(0, 62 * kSecond);
    EXPECT_TRUE(next.pass);
    EXPECT_EQ(next.heldBefore, 0u);
}

struct HeldBackCase {
    const char* format;
    uint64_t count;
    const char* line;
};

class HeldBackLineTest : public testing::TestWithParam<HeldBackCase> {};

TEST_P(HeldBackLineTest, KeepsTheTextsWordsWithoutItsValues) {
    EXPECT_EQ(HeldBackLine(GetParam().format, GetParam().count), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Log, HeldBackLineTest,
    testing::Values(
        HeldBackCase{"RTCListener:  Failed on settimeofday (%s)", 2311,
                     "RTCListener:  Failed on settimeofday (...) repeated 2,311 times in the last minute"},
        HeldBackCase{"RTCListener: Received RTCPERSISTACK", 1,
                     "RTCListener: Received RTCPERSISTACK repeated 1 time in the last minute"},
        HeldBackCase{"BackBoneIface::ListenForPairing: Failed to parse RTC IP address\n", 1000000,
                     "BackBoneIface::ListenForPairing: Failed to parse RTC IP address repeated 1,000,000 times in "
                     "the last minute"},
        HeldBackCase{"%s: got %-5.3f and %llu, 100%% of %zu%m", 999,
                     "...: got ... and ..., 100% of ...... repeated 999 times in the last minute"}));

TEST(Log, TheLastErrorLineIsKeptHeldBackOrNotAndCut) {
    static const char* const kLimited[] = {"LogTest: bad frame %d"};
    LimitLogTexts(kLimited, 1);
    EXPECT_EQ(LastLoggedError().time, 0);
    LogLine(LOG_INFO, "LogTest: not an error");
    EXPECT_EQ(LastLoggedError().time, 0);
    for (int i = 1; i <= 5; ++i) LogLine(LOG_ERR, "LogTest: bad frame %d", i);
    EXPECT_EQ(LastLoggedError().text, "LogTest: bad frame 5") << "the fifth was held back, and is still the last";
    EXPECT_NE(LastLoggedError().time, 0);

    LogLine(LOG_ERR, "LogTest: %s", std::string(1000, 'x').c_str());
    const std::string cut = LastLoggedError().text;
    EXPECT_LT(cut.size(), 1000u);
    EXPECT_EQ(cut.substr(0, 12), "LogTest: xxx");
}

}  // namespace
