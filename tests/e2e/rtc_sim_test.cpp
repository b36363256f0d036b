// The RTC simulator beside the daemon in the sandbox: in the daemon's own
// network namespace, broadcasting there, steered through its control FIFO.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "sandbox_run.h"

namespace {

constexpr int kBound = 60;

std::string NetNamespace(pid_t pid) {
    char target[PATH_MAX] = "";
    std::string link = "/proc/" + std::to_string(pid) + "/ns/net";
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : "";
}

}  // namespace

TEST(RtcSimulatorInSandbox, BroadcastsInTheDaemonsNamespace) {
    SandboxRun run;
    SandboxOptions options;
    options.withRtc = true;
    run.Start(options);
    ASSERT_TRUE(run.WaitForRtcLine("SENT RTCDISCOVER rtc_ip_address: \"127.0.0.1\"", kBound));
    ASSERT_TRUE(run.WaitForLine(run.Dir() + "/daemon.pid", "[0-9]", kBound));
    const std::string daemonNet = NetNamespace(run.PidFromFile("daemon.pid"));
    EXPECT_FALSE(daemonNet.empty());
    EXPECT_EQ(NetNamespace(run.PidFromFile("rtc.pid")), daemonNet);
    EXPECT_NE(NetNamespace(getpid()), daemonNet);

    ASSERT_TRUE(run.RtcControl("stats"));
    EXPECT_TRUE(run.WaitForRtcLine("STATS .*sent.RTCDISCOVER=", kBound));
    EXPECT_TRUE(run.MatchingLines(run.RtcLogPath(), "BROADCAST_FAILED").empty());
}
