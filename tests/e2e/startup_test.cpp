// Start-up of the real daemon: single instance, options, the board's reset
// pulse, and the listener's chunking of what the board sends.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>

#include "params/program_version.h"
#include "sandbox_run.h"

namespace {

constexpr int kBound = 60;  // generous: the machine may be busy
const char* kStarted = "Application started!!!";
const char* kVersionRequest = "FRAME op=20 len=5 addr=1 data=$";
const char* kResetHigh = "RESET high low_ms=([0-9]+)";

std::string WriteScript(const std::string& dir, const std::string& text) {
    std::string path = dir + "/board.script";
    std::ofstream(path) << text;
    return path;
}

TEST(Startup, ASecondInstanceStopsAndTheFirstKeepsRunning) {
    SandboxRun run;
    run.Start({});
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), kVersionRequest, kBound));
    pid_t sandbox = run.PidFromFile("sandbox.pid");
    pid_t first = run.PidFromFile("daemon.pid");
    ASSERT_GT(sandbox, 0);

    CommandResult second = RunCommand({"nsenter", "--target", std::to_string(sandbox), "--mount", "--net",
                                       "--wd=" + run.WorkDir(), DaemonPath()},
                                      kBound);
    EXPECT_EQ(second.status, 0);
    EXPECT_NE(second.out.find("Failed to lock file (./Tarnel.lck), another instance is already running"),
              std::string::npos)
        << second.out;
    EXPECT_NE(second.out.find("Application aborted!!!"), std::string::npos);
    EXPECT_TRUE(run.WaitForLine(run.SyslogPath(),
                                "Failed to lock file \\(\\./Tarnel\\.lck\\), another instance is already running",
                                kBound));

    size_t frames = run.MatchingLines(run.SerialPath(), "FRAME").size();
    EXPECT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME", kBound, frames)) << "the first instance went quiet";
    EXPECT_EQ(kill(first, 0), 0);
    EXPECT_EQ(run.MatchingLines(run.SyslogPath(), kStarted).size(), 1u);
}

TEST(Startup, ALockFileLeftByAKilledInstanceDoesNotBlockANewStart) {
    SandboxRun first;
    first.KeepDirectory();
    first.Start({3, {}, {}});
    ASSERT_TRUE(first.WaitForLine(first.SyslogPath(), kStarted, kBound));
    first.WaitForExit(kBound);
    ASSERT_EQ(access((first.WorkDir() + "/Tarnel.lck").c_str(), F_OK), 0);

    SandboxRun second(first.Dir());
    second.Start({});
    EXPECT_TRUE(second.WaitForLine(second.SerialPath(), kVersionRequest, kBound));
    EXPECT_EQ(second.MatchingLines(second.SyslogPath(), "Failed to lock").size(), 0u);
    second.Stop();
    std::system(("rm -rf '" + first.Dir() + "'").c_str());
}

struct OptionCase {
    std::vector<std::string> args;
    int status;
    std::string out;  // what standard output must hold
    std::string err;  // what standard error must hold
};

// Answered before the lock is taken: no lock file, no reset pulse, no line
// in the log.
TEST(Startup, OptionsAreAnsweredBeforeTheLockAndTheBoard) {
    const std::string usage =
        "usage: Tarnel [-f activity-log-path] [-m reader-mac] [--workdir dir] [--log-dir dir] [--log-level 0-7]"
        " [--log-limit MB] [--rtc address[:port]]... [--status-file path] [--status] [--help] [--version]\n";
    const OptionCase cases[] = {
        {{"--help"}, 0, usage, ""},
        {{"--version"}, 0, std::string("Tarnel version ") + kTarnelVersionText + "\n", ""},
        {{"-i", "x"}, 255, "", usage},
        {{"-a", "x"}, 255, "", usage},
        {{"--bogus"}, 255, "", usage},
        {{"--rtc", "192.168.1.10:0"}, 255, "", usage},
        {{"--status", "--status-file", "/nonexistent/status.json"}, 1, "",
         "Tarnel: no status in /nonexistent/status.json (No such file or directory); the daemon writes it every 10 s "
         "while it runs\n"},
    };
    for (const OptionCase& c : cases) {
        const std::string name = c.args[0];
        SandboxRun run;
        run.Start({kBound, {}, c.args});
        EXPECT_EQ(run.WaitForExit(kBound + 30), c.status) << name;
        EXPECT_EQ(ReadFile(run.Dir() + "/daemon.out"), c.out) << name;
        EXPECT_EQ(ReadFile(run.Dir() + "/daemon.err"), c.err) << name;
        EXPECT_NE(access((run.WorkDir() + "/Tarnel.lck").c_str(), F_OK), 0) << name;
        EXPECT_EQ(run.MatchingLines(run.SerialPath(), "RESET").size(), 0u) << name;
        EXPECT_EQ(run.MatchingLines(run.SyslogPath(), "Tarnel").size(), 0u) << name;
    }
}

// As the procd script starts it: files of the working directory, CSV logs
// and syslog lines each where the options say.
TEST(Startup, TheWorkingDirectoryLogDirectoryAndLogLevelComeFromTheOptions) {
    SandboxRun run;
    const std::string state = run.Dir() + "/state";
    const std::string logs = run.Dir() + "/logs";
    ASSERT_EQ(std::system(("mkdir -p '" + state + "' '" + logs + "'").c_str()), 0);
    run.Start({kBound, {}, {"--workdir", state, "--log-dir", logs, "--log-level", "6"}});
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "LoadAndSetRFSettings: ReadyForRTC set", kBound));
    EXPECT_EQ(access((state + "/Tarnel.lck").c_str(), F_OK), 0);
    EXPECT_EQ(access((state + "/ParamFiles.txt").c_str(), F_OK), 0);
    EXPECT_NE(access((run.WorkDir() + "/Tarnel.lck").c_str(), F_OK), 0);
    EXPECT_EQ(RunCommand({"sh", "-c", "ls '" + logs + "'/TagsActivity_*.csv"}, kBound).status, 0);
    EXPECT_NE(RunCommand({"sh", "-c", "ls '" + run.Dir() + "'/home/TagsActivity_*.csv"}, kBound).status, 0);
    // Facility user (8): 14 is information, 15 a trace.
    EXPECT_EQ(run.MatchingLines(run.SyslogPath(), " 15 Tarnel\\[").size(), 0u);
}

// Logs of earlier runs over the limit: at its start the daemon deletes the
// oldest until the rest fit, and leaves what is not its own.
TEST(Startup, TheOldestCsvLogsPastTheLogLimitAreDeletedAtTheStart) {
    SandboxRun run;
    const std::string home = run.Dir() + "/home/";
    const std::string kilobytes(600 * 1024, 'x');
    ASSERT_EQ(RunCommand({"mkdir", "-p", home}, kBound).status, 0);
    for (const char* name : {"TagsActivity_240101_0000.csv", "TagsActivity_240102_0000.csv", "notes.csv"})
        std::ofstream(home + name) << kilobytes;
    // Oldest first by their last write, whatever their names say.
    ASSERT_EQ(RunCommand({"touch", "-d", "2024-01-03", home + "TagsActivity_240101_0000.csv"}, kBound).status, 0);
    ASSERT_EQ(RunCommand({"touch", "-d", "2024-01-02", home + "TagsActivity_240102_0000.csv"}, kBound).status, 0);
    ASSERT_EQ(RunCommand({"touch", "-d", "2024-01-01", home + "notes.csv"}, kBound).status, 0);
    run.Start({kBound, {}, {"--log-limit", "1"}});
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "RunTarnel: the CSV logs in /home are kept within 1 MB", kBound));
    EXPECT_TRUE(run.WaitForLine(run.SyslogPath(),
                                "PruneCsvLogs: removed /home/TagsActivity_240102_0000.csv \\(614400 bytes\\), the "
                                "logs held [0-9]+ bytes over the limit of 1048576",
                                kBound));
    EXPECT_EQ(access((home + "TagsActivity_240101_0000.csv").c_str(), F_OK), 0);
    EXPECT_EQ(access((home + "notes.csv").c_str(), F_OK), 0);
    EXPECT_EQ(run.MatchingLines(run.SyslogPath(), "PruneCsvLogs").size(), 1u);
}

TEST(Startup, AWorkingDirectoryThatCannotBeEnteredEndsItWithStatus255) {
    SandboxRun run;
    run.Start({kBound, {}, {"--workdir", run.Dir() + "/missing"}});
    EXPECT_EQ(run.WaitForExit(kBound + 30), 255);
    EXPECT_NE(ReadFile(run.Dir() + "/daemon.err").find("Failed to enter the working directory"), std::string::npos);
    EXPECT_TRUE(run.WaitForLine(run.SyslogPath(), "RunTarnel: failed to enter the working directory", kBound));
    EXPECT_EQ(run.MatchingLines(run.SerialPath(), "RESET").size(), 0u);
}

// procd's stop, Ctrl-C and a closed terminal alike.
TEST(Startup, EachStopSignalSavesTheQueueAndEndsWithStatusZero) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SandboxRun run;
        run.Start({kBound, {}, {}});
        ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "MsgQSender started!!", kBound)) << sig;
        ASSERT_EQ(kill(run.PidFromFile("daemon.pid"), sig), 0);
        EXPECT_TRUE(run.WaitForLine(run.SyslogPath(), "StopOnSignalWithin: stopped", kBound)) << sig;
        EXPECT_EQ(run.WaitForExit(kBound), 0) << sig;
        EXPECT_EQ(access((run.WorkDir() + "/DataBackup.bin").c_str(), F_OK), 0) << sig;
    }
}

TEST(Startup, TheBoardGetsOneResetPulseOfAboutHalfASecond) {
    SandboxRun run;
    run.Start({});
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), kVersionRequest, kBound));
    auto pulses = run.MatchingLines(run.SerialPath(), kResetHigh);
    ASSERT_EQ(pulses.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(pulses[0], m, std::regex(kResetHigh)));
    int lowMs = std::stoi(m[1]);
    EXPECT_GE(lowMs, 450);
    EXPECT_LE(lowMs, 1500);
    EXPECT_EQ(run.MatchingLines(run.SyslogPath(), "Resetting subG").size(), 1u);
}

TEST(Startup, TheVersionQuestionRepeatsAboutEverySixSecondsWhileTheBoardIsSilent) {
    SandboxRun run;
    SandboxOptions options;
    options.simArgs = {"--silent"};
    run.Start(options);
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), kVersionRequest, kBound, 3));
    auto asks = run.MatchingLines(run.SerialPath(), kVersionRequest);
    double gap = MedianGap(HostFrames(run, 20));
    EXPECT_GE(gap, 4.5);
    EXPECT_LE(gap, 8.0);
    EXPECT_EQ(run.MatchingLines(run.SerialPath(), "FRAME").size(), asks.size()) << "only version questions go out";
}

TEST(Startup, BytesSentWithPausesReachTheInboundQueueAsOneChunkPerSilence) {
    SandboxRun run;
    // The verbose flag file makes the daemon log every chunk it queues.
    ASSERT_EQ(system(("mkdir -p " + run.WorkDir() + " && touch " + run.WorkDir() + "/display_setting").c_str()), 0);
    // Lengths that no version reply has, so each chunk is recognisable.
    std::string script = WriteScript(run.Dir(),
                                     "sleep 4000\n"
                                     "send 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d\n"
                                     "sleep 300\n"
                                     "send 11 12 13 14 15 16 17\n"
                                     "sleep 300\n"
                                     "send 21 22 23\n");
    SandboxOptions options;
    options.simArgs = {"--silent", "--script", script};
    run.Start(options);
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "PutMsgInQ: 3 bytes queued", kBound));
    auto chunks = run.MatchingLines(run.SyslogPath(), "PutMsgInQ: [0-9]+ bytes queued");
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_NE(chunks[0].find("13 bytes"), std::string::npos);
    EXPECT_NE(chunks[1].find("7 bytes"), std::string::npos);
    EXPECT_NE(chunks[2].find("3 bytes"), std::string::npos);
}

}  // namespace
