// A syslog that stays readable while an RTC misbehaves: a minute of
// malformed messages, as fast as the reader takes them, costs a few dozen
// lines, and the reader keeps delivering meanwhile.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "rtc_record.h"

namespace {

constexpr int kBound = 90;
constexpr int kFloodSeconds = 60;
constexpr int kSecondsPerKind = 2;

struct Malformed {
    const char* command;
    // The daemon's count of the lines it held back, as a pattern.
    const char* heldBack;
};

const std::vector<Malformed> kKinds = {
    {"clocksync now", "Failed on settimeofday \\(\\.\\.\\.\\) repeated [0-9,]+ times"},
    {"clocksync 1", "RTC time \\.\\.\\. ms predates this program, clock and queued times left as they are repeated"},
    {"envelope 22", "clock sync without a time, clock left as it is repeated"},
    {"envelope 15", "\\(Tag params\\) caught an exception \\(\\.\\.\\.\\) repeated"},
    // One text for every kind that does not parse: one count for both.
    {"envelope 14 ff", "RTCListener: \\(\\.\\.\\.\\) the message does not parse, ignored repeated"},
    {"envelope 17 ff", "RTCListener: \\(\\.\\.\\.\\) the message does not parse, ignored repeated"},
};

size_t Delivered(const SandboxRun& run) { return DeliveredRecords(RtcLines(run)).size(); }

TEST(LogLimit, AMinuteOfMalformedRtcMessagesCostsAFewDozenLinesAndDeliveryGoesOn) {
    SandboxRun run;
    SandboxOptions options;
    options.seconds = 400;
    options.simArgs = {"--tag-rate", "10"};
    options.rtcArgs = {"--json", "--keep-alive", "5"};
    // The OpenWrt package's level: information, no traces.
    options.daemonArgs = {"--log-level", "6"};
    run.Start(options);
    ASSERT_TRUE(run.WaitForRtcLine("\"kind\":\"RTCPAIRACK\"", kBound));
    ASSERT_TRUE(WaitUntil([&] { return Delivered(run) > 0; }, kBound));
    const pid_t daemon = run.PidFromFile("daemon.pid");
    const size_t linesBefore = run.MatchingLines(run.SyslogPath(), "").size();
    const size_t deliveredBefore = Delivered(run);

    // The kinds in turn, each flooding until the next replaces it: every
    // kind's minute starts early in the flood, so its count is said soon
    // after the flood ends. The flood's length is the case itself, not a
    // wait for something.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kFloodSeconds / kSecondsPerKind; ++i) {
        ASSERT_TRUE(run.RtcControl(std::string("flood 1000000000 ") + kKinds[i % kKinds.size()].command));
        std::this_thread::sleep_until(start + std::chrono::seconds((i + 1) * kSecondsPerKind));
    }
    ASSERT_TRUE(run.RtcControl("flood 1 persistack"));
    const size_t deliveredDuring = Delivered(run) - deliveredBefore;

    for (const Malformed& kind : kKinds) {
        EXPECT_TRUE(run.WaitForLine(run.SyslogPath(), kind.heldBack, kBound)) << kind.command;
    }
    const std::vector<std::string> lines = run.MatchingLines(run.SyslogPath(), "");
    std::cout << lines.size() - linesBefore << " lines for the flood, " << deliveredDuring
              << " records delivered during it:" << std::endl;
    for (size_t i = linesBefore; i < lines.size(); ++i) std::cout << "  " << lines[i] << std::endl;
    EXPECT_LE(lines.size() - linesBefore, 36u);
    // Ten records a second are made; at the RTC's keep-alive of 5 s the
    // sender's pace lets most of them through.
    EXPECT_GT(deliveredDuring, 200u);
    EXPECT_EQ(kill(daemon, 0), 0) << "the daemon is gone";
    EXPECT_EQ(run.PidFromFile("daemon.pid"), daemon);
}

}  // namespace
