// A minute of tag traffic at 300 frames per second: every record must reach
// the activity log and the backbone; at 100 a second while paired, every
// record must reach the RTC once. Prints the daemon's CPU time per message
// and its memory over the runs, its CPU while idle and paired, and its
// memory and backup times with the outgoing queue at its bound.
#include <glob.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

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

// User and system time of a process, or of one thread with its
// /proc/<pid>/task/<tid> path.
double CpuSeconds(const std::string& procPath) {
    std::string stat = ReadFile(procPath + "/stat");
    // Fields after the command name, which is in parentheses.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoul(field);
        if (i == 15) stime = std::stoul(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Per thread, in the order the threads were started (thread ids grow).
std::map<long, double> ThreadCpuSeconds(pid_t pid) {
    std::map<long, double> threads;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks))
        threads[std::stol(task.path().filename())] = CpuSeconds(task.path());
    return threads;
}

// Times each thread went to sleep (voluntary context switches), keyed as
// ThreadCpuSeconds.
std::map<long, long> ThreadSleeps(pid_t pid) {
    std::map<long, long> threads;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::smatch m;
        const std::string status = ReadFile(task.path().string() + "/status");
        if (std::regex_search(status, m, std::regex(R"(voluntary_ctxt_switches:\s+([0-9]+))")))
            threads[std::stol(task.path().filename())] = std::stol(m[1]);
    }
    return threads;
}

// Per thread, in start order: CPU µs and sleeps per message over a window.
std::string PerThreadPerMessage(const std::map<long, double>& cpuBefore, const std::map<long, long>& sleepsBefore,
                                pid_t pid, long messages) {
    std::ostringstream out;
    const std::map<long, long> sleeps = ThreadSleeps(pid);
    for (const auto& [tid, seconds] : ThreadCpuSeconds(pid)) {
        const double cpu = seconds - (cpuBefore.count(tid) ? cpuBefore.at(tid) : 0.0);
        const long woke = (sleeps.count(tid) ? sleeps.at(tid) : 0) - (sleepsBefore.count(tid) ? sleepsBefore.at(tid) : 0);
        out << " " << cpu * 1e6 / static_cast<double>(messages) << " us/" << static_cast<double>(woke) / static_cast<double>(messages);
    }
    return out.str();
}

ProcessUse Use(pid_t pid) {
    ProcessUse use;
    use.cpuSeconds = CpuSeconds("/proc/" + std::to_string(pid));
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
    const std::map<long, double> threadCpuBefore = ThreadCpuSeconds(daemon);
    const std::map<long, long> threadSleepsBefore = ThreadSleeps(daemon);

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
              << after.peakRssKb << " kB; per thread in start order, CPU and sleeps per message:"
              << PerThreadPerMessage(threadCpuBefore, threadSleepsBefore, daemon, tags) << std::endl;
    RecordProperty("cpu_us_per_message", std::to_string(cpuPerMessageUs));
    RecordProperty("rss_growth_kb", std::to_string(after.rssKb - before.rssKb));
}


// Every tag entry the RTC simulator received: (tag, message id, visit time).
using Delivery = std::tuple<uint32_t, uint32_t, uint64_t>;

std::vector<Delivery> DeliveredRecords(const SandboxRun& run) {
    static const std::regex entry(R"re("tag_id":(\d+),"tag_msg_id":(\d+),"visit_timestamp":"(\d+)")re");
    std::vector<Delivery> records;
    for (const std::string& line : run.MatchingLines(run.RtcLogPath(), R"("dir":"recv".*"kind":"READERDATAPACKAGE")")) {
        for (std::sregex_iterator it(line.begin(), line.end(), entry), end; it != end; ++it)
            records.emplace_back(std::stoul((*it)[1]), std::stoul((*it)[2]), std::stoull((*it)[3]));
    }
    return records;
}

// Each tag numbers its messages; in the order the RTC received them the
// numbers a tag's records carry must follow on without a gap. (Not in the
// order of their visit times: those are the reader's clock at decoding,
// and a busy machine can date two of a tag's messages out of turn.)
long GapsInTagNumbering(const std::vector<Delivery>& records) {
    std::map<uint32_t, uint32_t> lastOfTag;
    long gaps = 0;
    for (const Delivery& record : records) {
        const uint32_t tag = std::get<0>(record);
        const uint32_t number = std::get<1>(record);
        const auto last = lastOfTag.find(tag);
        if (last != lastOfTag.end() && number != (last->second + 1) % 256) ++gaps;
        lastOfTag[tag] = number;
    }
    return gaps;
}

bool WaitForPairing(SandboxRun& run) { return run.WaitForRtcLine(R"("kind":"RTCPAIRACK")", kBound); }

TEST(Load, AHundredTagMessagesASecondWhilePairedReachTheRtcOnceEach) {
    constexpr int kPairedRate = 100;
    constexpr int kDeliveryBound = 420;
    SandboxRun run;
    SandboxOptions options{540, run.ControlArgs(), {}};
    // The sender pauses one keep-alive interval after each burst of three
    // packages, so it sends about 3 packages of some 28 records every
    // interval plus a second: a minute at 100 a second leaves a backlog of
    // minutes. A short interval drains it sooner; the RTC's acknowledgements
    // still come within the read time-out of twice the interval.
    options.rtcArgs = {"--json", "--keep-alive", "2"};
    run.Start(options);
    ASSERT_TRUE(WaitForPairing(run));
    pid_t daemon = run.PidFromFile("daemon.pid");
    ProcessUse before = Use(daemon);
    const std::map<long, double> threadCpuBefore = ThreadCpuSeconds(daemon);
    const std::map<long, long> threadSleepsBefore = ThreadSleeps(daemon);

    ASSERT_TRUE(run.Control("tagrate " + std::to_string(kPairedRate) + " 7000"));
    std::this_thread::sleep_for(std::chrono::seconds(kLoadSeconds));
    ASSERT_TRUE(run.Control("tagrate 0"));
    const ProcessUse endOfTraffic = Use(daemon);
    const std::string trafficPerThread =
        PerThreadPerMessage(threadCpuBefore, threadSleepsBefore, daemon, kPairedRate * kLoadSeconds);
    ASSERT_TRUE(run.Control("stats"));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "STATS tags=", kBound));
    auto stats = run.MatchingLines(run.SerialPath(), "STATS tags=");
    const long tags = LastNumber(stats, "tags=([0-9]+)");
    const long records = LastNumber(stats, "records=([0-9]+)");
    ASSERT_GT(tags, kPairedRate * kLoadSeconds / 2);

    std::vector<Delivery> delivered;
    for (int waited = 0; waited < kDeliveryBound; ++waited) {
        delivered = DeliveredRecords(run);
        if (static_cast<long>(delivered.size()) >= records) break;
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    ProcessUse after = Use(daemon);
    EXPECT_EQ(static_cast<long>(delivered.size()), records);
    EXPECT_EQ(std::set<Delivery>(delivered.begin(), delivered.end()).size(), delivered.size()) << "none twice";
    std::set<uint32_t> tagIds;
    for (const Delivery& d : delivered) tagIds.insert(std::get<0>(d));
    EXPECT_EQ(tagIds, (std::set<uint32_t>{7000, 7001, 7002, 7003, 7004, 7005, 7006, 7007, 7008, 7009}));
    EXPECT_EQ(GapsInTagNumbering(delivered), 0);
    EXPECT_TRUE(run.MatchingLines(run.RtcLogPath(), R"("event":"BAD")").empty());

    double cpuPerMessageUs = (after.cpuSeconds - before.cpuSeconds) * 1e6 / static_cast<double>(tags);
    double trafficCpuUs = (endOfTraffic.cpuSeconds - before.cpuSeconds) * 1e6 / static_cast<double>(tags);
    std::cout << "paired load: " << tags << " tag messages, " << delivered.size() << " records at the RTC, daemon CPU "
              << cpuPerMessageUs << " us per message end to end (" << trafficCpuUs
              << " us of it in the minute of traffic), RSS " << before.rssKb << " kB before, "
              << after.rssKb << " kB after, peak " << after.peakRssKb
              << " kB; in the minute of traffic per thread in start order, CPU and sleeps per message:"
              << trafficPerThread << std::endl;
    RecordProperty("paired_cpu_us_per_message", std::to_string(cpuPerMessageUs));
}

TEST(Load, IdleWhilePairedTheDaemonBarelyRuns) {
    constexpr int kIdleSeconds = 30;
    SandboxRun run;
    SandboxOptions options{120, {}, {}};
    options.rtcArgs = {"--json"};
    run.Start(options);
    ASSERT_TRUE(WaitForPairing(run));
    pid_t daemon = run.PidFromFile("daemon.pid");
    ProcessUse before = Use(daemon);
    const std::map<long, double> threadsBefore = ThreadCpuSeconds(daemon);
    std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));  // the measurement window
    ProcessUse after = Use(daemon);
    const double percent = (after.cpuSeconds - before.cpuSeconds) * 100.0 / kIdleSeconds;
    std::cout << "idle and paired: daemon CPU " << percent << " % of a core over " << kIdleSeconds << " s, RSS "
              << after.rssKb << " kB; per thread in start order (main, serial listener, serial parser, the console "
              << "while it runs, backbone, queue sender, RTC listener), %:";
    for (const auto& [tid, seconds] : ThreadCpuSeconds(daemon))
        std::cout << " " << (seconds - (threadsBefore.count(tid) ? threadsBefore.at(tid) : 0.0)) * 100.0 / kIdleSeconds;
    std::cout << std::endl;
    RecordProperty("idle_cpu_percent", std::to_string(percent));
    // Idle, the threads wake a few times a second: about 0.1 % here. A
    // thread back on a millisecond tick shows above this bound.
    EXPECT_LT(percent, 0.5);
}

// Seconds between the first line matching from and the next matching to.
double Between(const std::vector<std::string>& lines, const std::string& from, const std::string& to, size_t skip) {
    double start = -1;
    for (const std::string& line : lines) {
        if (start < 0 && line.find(from) != std::string::npos && skip-- == 0) start = LineTime(line);
        if (start >= 0 && line.find(to) != std::string::npos) return LineTime(line) - start;
    }
    return -1;
}

TEST(Load, AQueueAtItsBoundFitsInMemoryAndItsBackupLoadsAndSavesInTime) {
    SandboxRun run;
    std::system(("mkdir -p '" + run.WorkDir() + "'").c_str());
    // Packages of about 1 kB of activity records, as the reader makes them.
    const CommandResult made =
        RunCommand({BuildDir() + "/tarnel-backupdump", "--at-bound", run.WorkDir() + "/DataBackup.bin"}, kBound);
    ASSERT_EQ(made.status, 0) << made.out;
    run.Start({120, {}, {}});
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "MsgQSender started!!", kBound));
    ASSERT_EQ(run.MatchingLines(run.SyslogPath(), "LoadQFromFile: [0-9]+ packages, 999999 tag records loaded").size(),
              1u);
    const pid_t daemon = run.PidFromFile("daemon.pid");
    const ProcessUse use = Use(daemon);
    // Stopped as procd stops it, the daemon writes the whole queue back.
    ASSERT_EQ(kill(daemon, SIGTERM), 0);
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "StopOnSignalWithin: stopped", kBound));
    const std::vector<std::string> lines = run.MatchingLines(run.SyslogPath(), "");
    const double load = Between(lines, "Data backup folder", "tag records loaded", 0);
    const double save = Between(lines, "saving the outgoing queue", "StopOnSignalWithin: stopped", 0);
    std::cout << "queue at the bound: daemon RSS " << use.rssKb << " kB (peak " << use.peakRssKb << " kB), load "
              << load << " s, save " << save << " s" << std::endl;
    EXPECT_LT(use.rssKb, 64 * 1024);
    EXPECT_GE(load, 0);
    EXPECT_LT(load, 2.0);
    EXPECT_GE(save, 0);
    EXPECT_LT(save, 1.0);
}

}  // namespace

