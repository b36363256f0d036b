// Whom the reader trusts: with a list of RTCs given, another RTC on the
// network is never connected to, and no RTC sets the clock, nor the visit
// times of the records queued meanwhile, back before the program's build.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "rtc_record.h"

namespace {

constexpr int kBound = 90;
// How long the unlisted RTC announces itself without ever being connected.
constexpr auto kUnheardFor = std::chrono::seconds(30);
constexpr size_t kOutageRows = 100;  // several packages' worth, queued
const char kJanuary1980Millis[] = "315532800000";

size_t LoggedRows(const SandboxRun& run) { return ActivityLogRecords(ActivityLogPath(run)).size(); }

// The reader hears the listed RTC (the sandbox's, on 127.0.0.1) only once
// it starts to announce itself; until then the tags' records queue up, as
// in an outage. The unlisted one announces from 127.0.0.2 all along.
TEST(RtcTrust, OnlyTheListedRtcIsHeardAndItsClockOf1980MovesNoQueuedRecord) {
    SandboxRun run;
    SandboxOptions options;
    options.seconds = 240;
    options.simArgs = run.ControlArgs();
    options.daemonArgs = {"--rtc", "127.0.0.1:53010"};
    options.rtcArgs = {"--json", "--keep-alive", "5", "--broadcast-every", "0", "--clock", kJanuary1980Millis};
    run.Start(options);
    const std::string unlistedLog = run.Dir() + "/unlisted-rtc.log";
    ASSERT_GT(run.StartBeside({BuildDir() + "/tarnel-rtcsim", "--listen-address", "127.0.0.2", "--port", "0",
                               "--broadcast-to", "127.255.255.255", "--json", "--quiet", "--out", unlistedLog,
                               "--seconds", "200"}),
              0);
    const auto unlistedSince = std::chrono::steady_clock::now();
    const std::string ignored = "ignored RTC 127\\.0\\.0\\.2 port [0-9]+, not on the list";
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), ignored, kBound));

    ASSERT_TRUE(run.Control("tagrate 10"));
    ASSERT_TRUE(WaitUntil([&] { return LoggedRows(run) >= kOutageRows; }, kBound));
    ASSERT_TRUE(run.RtcControl("broadcast every 2000"));
    ASSERT_TRUE(run.WaitForRtcLine("\"kind\":\"RTCPAIRACK\"", kBound));
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "RTCListener: RTC time 315532800000 ms predates this program",
                                kBound));
    ASSERT_TRUE(run.Control("tagrate 0"));
    ASSERT_TRUE(run.Control("stats"));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "STATS tags=", kBound));
    const auto sent = BoardSentRecords(run.SerialPath());
    ASSERT_TRUE(WaitUntil([&] { return LoggedRows(run) == sent.size(); }, kBound));
    ASSERT_TRUE(WaitUntil([&] { return DeliveredRecords(RtcLines(run)).size() >= sent.size(); }, kBound));
    // Every record with the time the reader logged it, none 46 years early.
    EXPECT_EQ(CompareDelivery(sent, ActivityLogRecords(ActivityLogPath(run)), DeliveredRecords(RtcLines(run))), "");

    const auto unheardLeft = kUnheardFor - (std::chrono::steady_clock::now() - unlistedSince);
    const int waitSeconds = static_cast<int>(std::chrono::ceil<std::chrono::seconds>(unheardLeft).count());
    const auto connections = [&] { return CountEvents(RtcLinesOf(unlistedLog), "CONNECT"); };
    WaitUntil([&] { return connections() > 0; }, std::max(waitSeconds, 0));
    EXPECT_EQ(connections(), 0u) << "the unlisted RTC got a connection";
    EXPECT_EQ(run.MatchingLines(run.SyslogPath(), ignored).size(), 1u) << "one line an hour per source";
    EXPECT_EQ(ReadFile(run.WorkDir() + "/RTC_IP_Adress.txt"), "127.0.0.1");
}

}  // namespace
