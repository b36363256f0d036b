// A hostile RTC, case after case, against one daemon with tags flowing:
// floods of valid messages, a peer that stops reading while it keeps
// talking, resets in the middle of an envelope, lengths up to 4 GB, an
// envelope dribbled and never finished. After each case the daemon is the
// same process, pairs again and delivers, and its memory stays put.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "rtc_record.h"

namespace {

constexpr int kBound = 90;
// Resident memory may grow this much over the whole run. The daemon's own
// bounds (a 64 KB receive buffer, 1024 acknowledgements waiting, the queue
// of the few hundred records that gather while a case keeps the link down)
// account for well under 1 MB; the rest is room for the allocator's arenas
// and pages touched once. Growth with the number of hostile messages (tens
// of thousands per case) would exceed it many times over.
constexpr long kRssMarginKb = 4 * 1024;

long RssKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

struct Hostile {
    const char* name;
    std::vector<std::string> begin;
    // What shows that the daemon met the case, in its syslog.
    const char* seen;
    std::vector<std::string> end;
};

const std::vector<Hostile> kCases = {
    {"flood of reader parameters", {"flood 500 readerparams diagnostics_sending_interval=61"},
     "Received RTCSETREADERPARAM", {}},
    {"flood of clock synchronisations", {"flood 30000 clocksync now"}, "Received RtcClockSync", {}},
    {"flood of persist acknowledgements", {"flood 30000 persistack 1 2 3"}, "Received RTCPERSISTACK", {}},
    {"flood of commands", {"flood 3000 command RunBIT"}, "Received RTCCOMMAND_FIELDNUM", {}},
    // It talks and reads nothing: the reader's acknowledgements go into a
    // socket nobody reads; then silence, and the reader's next connection
    // is accepted and not read either, until the RTC reads again.
    {"stops reading", {"pause", "flood 200000 persistack 1"}, "nothing from the RTC for", {"resume"}},
    {"reset mid-envelope", {"reset command RunBIT"}, "closed the connection|HandleSigPipe|dropping the link", {}},
    {"length of 4 GB", {"header 14 4294967295"}, "a message longer than", {}},
    {"envelope dribbled and never finished", {"dribble 20 header 17 4000", "pause 15000"},
     "nothing from the RTC for", {}},
};

size_t Delivered(const SandboxRun& run) { return DeliveredRecords(RtcLines(run)).size(); }

size_t SyslogCount(const SandboxRun& run, const std::string& pattern) {
    return run.MatchingLines(run.SyslogPath(), pattern).size();
}

TEST(RtcHostile, TheDaemonSurvivesEachCaseThenPairsAndDeliversInBoundedMemory) {
    SandboxRun run;
    SandboxOptions options;
    options.seconds = 900;
    // Slower than the reader's paced sending drains, so that a backlog
    // left by one case is gone before the next.
    options.simArgs = {"--tag-rate", "5"};
    options.rtcArgs = {"--json", "--keep-alive", "5", "--broadcast-every", "500", "--recv-buffer", "4096"};
    run.Start(options);
    ASSERT_TRUE(run.WaitForRtcLine("\"kind\":\"RTCPAIRACK\"", kBound));
    ASSERT_TRUE(WaitUntil([&] { return Delivered(run) >= 100; }, kBound));
    const pid_t daemon = run.PidFromFile("daemon.pid");
    const long baseline = RssKb(daemon);
    ASSERT_GT(baseline, 0);
    std::cout << "daemon RSS before the hostile cases: " << baseline << " kB" << std::endl;

    for (const Hostile& c : kCases) {
        SCOPED_TRACE(c.name);
        const long before = RssKb(daemon);
        const size_t seenBefore = SyslogCount(run, c.seen);
        for (const auto& line : c.begin) ASSERT_TRUE(run.RtcControl(line));
        ASSERT_TRUE(WaitUntil([&] { return SyslogCount(run, c.seen) > seenBefore; }, kBound));
        for (const auto& line : c.end) ASSERT_TRUE(run.RtcControl(line));
        // Behaving again, the RTC gets tag records anew, behind the reports
        // a case may have queued: three packages a keep-alive interval.
        const size_t delivered = Delivered(run);
        ASSERT_TRUE(WaitUntil([&] { return Delivered(run) >= delivered + 40; }, 2 * kBound)) << "no delivery after";
        ASSERT_EQ(kill(daemon, 0), 0) << "the daemon is gone";
        const long after = RssKb(daemon);
        std::cout << "case '" << c.name << "': daemon RSS " << before << " kB before, " << after << " kB after"
                  << std::endl;
        EXPECT_LE(after, baseline + kRssMarginKb);
    }
    EXPECT_EQ(run.PidFromFile("daemon.pid"), daemon) << "the same daemon throughout";
    // Tens of thousands of acknowledgements dropped, a few lines about it.
    EXPECT_LT(SyslogCount(run, "AddAckWaiting|TakeAckWaiting"), 100u);
}

}  // namespace
