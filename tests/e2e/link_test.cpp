// The live serial link: keep-alive questions, the LED word, the watchdogs
// that reset a silent board, and the files the link keeps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "params/working_params.h"
#include "sandbox_run.h"

namespace {

constexpr int kBound = 90;

// The keep-alive questions in the order they were asked, as "op/data0".
std::vector<std::string> KeepAliveQuestions(const SandboxRun& run) {
    std::vector<std::string> asked;
    for (const auto& f : HostFrames(run)) {
        if (f.op == 20 || f.op == 27 || f.op == 42 || f.op == 43) {
            asked.push_back(std::to_string(f.op) + (f.data.empty() ? "" : "/" + std::to_string(f.data[0])));
        }
    }
    return asked;
}

void WriteParamFile(const std::string& workDir, uint32_t steadyStateSeconds) {
    WorkingParamsSt params{};
    params.UserSpaceAppVersion = kUserSpaceAppVersion;
    params.RadioFreq = 907.0f;
    params.DiagInterval = 60;
    params.BITInterval = 24;
    params.ChannScanInterval = 60;
    params.KeepAlive = 3;
    params.SteadyStateInterval = steadyStateSeconds;
    uint8_t bytes[kWorkingParamsSize];
    EncodeWorkingParams(params, bytes);
    uint8_t crc = 0;
    for (size_t i = 0; i + 1 < kWorkingParamsSize; ++i) crc ^= bytes[i];
    bytes[kWorkingParamsSize - 1] = crc;
    std::ofstream(workDir + "/ParamFiles.txt", std::ios::binary).write(reinterpret_cast<char*>(bytes), sizeof(bytes));
}

TEST(Link, AConnectedBoardIsAskedTheKeepAliveCycleAboutEverySixSeconds) {
    SandboxRun run;
    run.Start({120, {}, {}});
    // Five questions after the version that connected it: one full cycle.
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=20 ", kBound + 30, 1));
    auto asked = KeepAliveQuestions(run);
    ASSERT_GE(asked.size(), 6u);
    std::vector<std::string> cycle(asked.begin() + 1, asked.begin() + 6);
    EXPECT_EQ(cycle, (std::vector<std::string>{"27/0", "27/1", "42/1", "43/1", "20"}));

    double gap = MedianGap(HostFrames(run, 1));
    EXPECT_GE(gap, 4.5);
    EXPECT_LE(gap, 9.0);
    EXPECT_GE(HostFrames(run, 1).size(), 4u) << "board software above 1.6.9 gets the parameter check every round";
}

TEST(Link, OldBoardSoftwareGetsNoParameterCheck) {
    SandboxRun run;
    run.Start({60, {"--version", "1.6.9"}, {}});
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=42 ", kBound));
    EXPECT_EQ(HostFrames(run, 1).size(), 0u);
    EXPECT_EQ(HostFrames(run, 41).size(), 0u) << "no version record to ask for";
}

TEST(Link, TheLedWordGoesOutAboutEveryTwoSecondsWithoutTheRtcBit) {
    SandboxRun run;
    run.Start({60, {}, {}});
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=38 ", kBound, 4));
    auto leds = HostFrames(run, 38);
    for (const auto& f : leds) {
        ASSERT_EQ(f.data.size(), 1u);
        EXPECT_EQ(f.data[0] & 0x40, 0) << "no RTC yet";
    }
    double gap = MedianGap(leds);
    EXPECT_GE(gap, 1.0);
    EXPECT_LE(gap, 4.0);
}

TEST(Link, ASilentBoardIsResetAndConnectedAgain) {
    SandboxRun run;
    SandboxOptions options{120, run.ControlArgs(), {}};
    run.Start(options);
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=27 ", kBound));
    ASSERT_TRUE(run.Control("silent on"));
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "No Serial since .* - Reseting serial port", kBound));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "RESET high", kBound, 1)) << "a second reset pulse";
    auto lines = run.MatchingLines(run.SyslogPath(), "KeepAliveMessages: SubGboard not connected yet");
    size_t before = lines.size();
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "KeepAliveMessages: SubGboard not connected yet", kBound, before));
    ASSERT_TRUE(run.Control("silent off"));
    size_t versions = HostFrames(run, 41).size();
    EXPECT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=41 ", kBound, versions))
        << "a new connection round asks for the version record again";
}

TEST(Link, ABoardWithoutTagMessagesIsResetAfterTwiceTheSteadyStateInterval) {
    SandboxRun run;
    ASSERT_EQ(system(("mkdir -p " + run.WorkDir()).c_str()), 0);
    WriteParamFile(run.WorkDir(), 4);
    run.Start({90, {}, {}});
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(),
                                "SerialListener: No tag message arrived for 8 seconds, reseting SubGBoard", kBound));
    EXPECT_TRUE(run.WaitForLine(run.SerialPath(), "RESET high", kBound, 1));
}

TEST(Link, ABoardSendingTagsIsNotResetByTheTagWatchdog) {
    SandboxRun run;
    ASSERT_EQ(system(("mkdir -p " + run.WorkDir()).c_str()), 0);
    WriteParamFile(run.WorkDir(), 4);
    run.Start({90, {"--tags-every", "1000"}, {}});
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=27 .*data=01", kBound, 1)) << "two rounds pass";
    EXPECT_EQ(run.MatchingLines(run.SyslogPath(), "No tag message arrived").size(), 0u);
}

TEST(Link, ADamagedParameterFileIsReportedKeptAsideAndReplacedByTheDefaults) {
    SandboxRun run;
    ASSERT_EQ(system(("mkdir -p " + run.WorkDir()).c_str()), 0);
    // Equal bytes would pass the checksum (117 equal bytes XOR to that byte).
    const std::string damaged = std::string(117, '\x5a') + '\x00';
    std::ofstream(run.WorkDir() + "/ParamFiles.txt", std::ios::binary) << damaged;
    run.Start({60, {}, {}});
    std::string path = run.WorkDir() + "/ParamFiles.txt";
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "ReadyForRTC", kBound));
    EXPECT_EQ(run.MatchingLines(run.SyslogPath(), "LoadParams: \\./ParamFiles\\.txt fails its checksum").size(), 1u);
    EXPECT_EQ(ReadFile(path + ".bad"), damaged);
    std::string bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), kWorkingParamsSize);
    WorkingParamsSt params;
    DecodeWorkingParams(reinterpret_cast<const uint8_t*>(bytes.data()), &params);
    EXPECT_EQ(params.SteadyStateInterval, 300u);
    EXPECT_EQ(params.RadioFreq, 907.0f);
    EXPECT_EQ(params.SubGAppVersion, 10610u) << "the version the board reported is kept";
}

TEST(Link, TheVersionFileHoldsTheFourVersionsOnceKnown) {
    SandboxRun run;
    run.Start({60, {}, {}});
    std::string path = run.WorkDir() + "/SubGBoardAppVersion.txt";
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "ParseSubGServiceInfo: Parsing GVT data", kBound));
    ASSERT_TRUE(run.WaitForLine(path, "^Tarnel version", kBound));
    EXPECT_EQ(ReadFile(path),
              "SubGBoard Bootrom: 1.0.0.0\n"
              "SubGBoard Bootloader: 1.0.0.0\n"
              "SubGBoard Application: 1.6.10.0\n"
              "Tarnel version: " + std::string(kTarnelVersionText) + "\n");
}

}  // namespace
