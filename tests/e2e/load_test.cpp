// A minute of tag traffic at 300 frames per second: every record must reach
// the activity log and the backbone. Prints the daemon's CPU time per
// message and its memory over the run.
#include <glob.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <thread>

#include "sandbox_run.h"

namespace {

constexpr int kBound = 120;
constexpr int kRate = 300;
constexpr int kLoadSeconds = 60;

struct ProcessUse {
    double cpuSeconds = 0;
    long rssKb = 0;
    long peakRssKb = 0;
};

ProcessUse Use(pid_t pid) {
    ProcessUse use;
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    // Fields after the command name, which is in parentheses.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoul(field);
        if (i == 15) stime = std::stoul(field);
    }
    use.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) use.rssKb = std::stol(line.substr(6));
        if (line.rfind("VmHWM:", 0) == 0) use.peakRssKb = std::stol(line.substr(6));
    }
    return use;
}

long LastNumber(const std::vector<std::string>& lines, const std::string& pattern) {
    std::smatch m;
    if (lines.empty() || !std::regex_search(lines.back(), m, std::regex(pattern))) return -1;
    return std::stol(m[1]);
}

std::string ActivityLog(const SandboxRun& run) {
    glob_t found{};
    std::string path;
    if (glob((run.Dir() + "/home/TagsActivity_*.csv").c_str(), 0, nullptr, &found) == 0) path = found.gl_pathv[0];
    globfree(&found);
    return path;
}

TEST(Load, ThreeHundredTagMessagesASecondForAMinuteLoseNothing) {
    SandboxRun run;
    run.Start({280, run.ControlArgs(), {}});
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "ReadyForRTC set", kBound));
    pid_t daemon = run.PidFromFile("daemon.pid");
    ProcessUse before = Use(daemon);

    ASSERT_TRUE(run.Control("tagrate " + std::to_string(kRate) + " 5000"));
    std::this_thread::sleep_for(std::chrono::seconds(kLoadSeconds));
    ASSERT_TRUE(run.Control("tagrate 0"));
    ASSERT_TRUE(run.Control("stats"));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "STATS tags=", kBound));
    auto stats = run.MatchingLines(run.SerialPath(), "STATS tags=");
    long tags = LastNumber(stats, "tags=([0-9]+)");
    long records = LastNumber(stats, "records=([0-9]+)");
    ASSERT_GT(tags, kRate * kLoadSeconds / 2);

    std::string taken = "ZemloBackboneTh: " + std::to_string(records) + " tag records taken";
    EXPECT_TRUE(run.WaitForLine(run.SyslogPath(), taken, kBound)) << "records missing from the backbone";
    std::string log = ActivityLog(run);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(static_cast<long>(run.MatchingLines(log, "^RADIO_").size()), records) << "rows missing";
    EXPECT_EQ(run.MatchingLines(run.SyslogPath(), "ParseTagMsg: ParsedBytes == -1|PutMsgInQ: inbound queue full")
                  .size(),
              0u);

    ProcessUse after = Use(daemon);
    double cpuPerMessageUs = (after.cpuSeconds - before.cpuSeconds) * 1e6 / static_cast<double>(tags);
    std::cout << "load: " << tags << " tag messages, " << records << " records, daemon CPU " << cpuPerMessageUs
              << " us per message, RSS " << before.rssKb << " kB before, " << after.rssKb << " kB after, peak "
              << after.peakRssKb << " kB" << std::endl;
    RecordProperty("cpu_us_per_message", std::to_string(cpuPerMessageUs));
    RecordProperty("rss_growth_kb", std::to_string(after.rssKb - before.rssKb));
}

}  // namespace
