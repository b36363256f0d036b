// The maintenance console through a real terminal against the simulated
// board: the menu, the frames its commands queue, the settings they change,
// the tag firmware upload, and the end of its input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "sandbox_run.h"

namespace {

constexpr int kBound = 90;
const char kPrompt[] = "Please select command num:\n";

void StartConsole(SandboxRun& run, std::vector<std::string> simArgs = {}) {
    SandboxOptions options;
    options.seconds = 240;
    options.simArgs = std::move(simArgs);
    options.console = true;
    run.Start(options);
    ASSERT_TRUE(run.WaitForConsole(kPrompt, kBound)) << run.ConsoleText();
}

void Type(SandboxRun& run, const std::vector<std::string>& lines) {
    for (const auto& line : lines) ASSERT_TRUE(run.Type(line));
}

bool SawFrame(SandboxRun& run, const std::string& frame) {
    return run.WaitForLine(run.SerialPath(), "FRAME " + frame + "$", kBound);
}

size_t CountFrames(const SandboxRun& run, const std::string& frame) {
    return run.MatchingLines(run.SerialPath(), "FRAME " + frame + "$").size();
}

// Command 19 answers at once and sends nothing: whatever was typed before it
// has been carried out once its answer shows.
void Sync(SandboxRun& run, size_t& syncs) {
    Type(run, {"19"});
    ASSERT_TRUE(run.WaitForConsole("Tarnel version", kBound, syncs++));
}

double CpuSeconds(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; fields >> field && i <= 15; ++i) {
        if (i >= 14) ticks += std::stod(field);  // user and system time
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

const char kMenu[] =
    "Selected Radio - 1\nPlease select command num:\n1) Change freq\n2) Reset chip\n3) Crystal Oscillator Off\n"
    "4) Crystal Oscillator On\n5) Display part number\n6) Display part version\n7) Run 1st manual calibration\n"
    "8) Run 2nd manual calibration\n9) Freq. Synthesizer ON\n10) Enter CW mode\n11) Switch Radio\n"
    "12) Set output power\n13) Scan RSSI on Current frequency\n14) Scan RSSI on all channels\n"
    "15) Stop RSSI scanning\n16) Start PER test\n17) Stop PER test\n18) Reset diagnostics\n"
    "19) Display Host board app version\n20) Display SubG board app version\n21) Collect from 2 radios\n"
    "22) Get FW file \n23) Start FW load (Packet by packet)\n24) Start FW load (Continuous)\n"
    "25) Restart SubG board application\n26) Set diagnostics interval\n27) Send reset tag diagnostics\n"
    "28) Stop sending tag reset diagnostics\n29) Get Frequency\n30) Start beacon\n31) Stop beacon\n"
    "32) Set frequency change delay\n33) Request tag's parameters\n34) Stop request tag's parameters\n"
    "35) Set RF region's channels table\n36) Set channel index\n37) Set steady state interval\n"
    "38) Get SubGBoard checksum\n39) SetSerialNumber\n40) GetServiceInfo\n";

TEST(ConsoleMenu, ShowsTheFortyCommandsAndRefusesOtherNumbersAndOverlongLines) {
    SandboxRun run;
    ASSERT_NO_FATAL_FAILURE(StartConsole(run));
    // The prompt comes before the forty lines: wait for the whole menu.
    EXPECT_TRUE(run.WaitForConsole(kMenu, kBound)) << run.ConsoleText();
    size_t syncs = 0;
    // The rest of an over-long line is read away: its "2" must not reset a chip.
    Type(run, {"0", "41", "41" + std::string(300, ' ') + "2"});
    Sync(run, syncs);
    EXPECT_TRUE(run.WaitForConsole("Unknown command! \n", kBound, 2));
    EXPECT_EQ(CountFrames(run, "op=3 .*"), 0u);
}

TEST(ConsoleRequests, RadioTestsAndTheIntervalQueueExactlyTheirFrames) {
    SandboxRun run;
    ASSERT_NO_FATAL_FAILURE(StartConsole(run));
    Type(run, {"10", "2"});
    EXPECT_TRUE(SawFrame(run, "op=11 len=7 addr=1 data=00 01"));
    Type(run, {"11", "2", "2"});
    EXPECT_TRUE(SawFrame(run, "op=3 len=6 addr=1 data=01"));
    Type(run, {"14", "3"});
    EXPECT_TRUE(SawFrame(run, "op=13 len=8 addr=1 data=02 01 01"));
    EXPECT_TRUE(run.WaitForConsole("Selected Radio - 3\n", kBound));
    Type(run, {"37", "600"});
    EXPECT_TRUE(SawFrame(run, "op=37 len=7 addr=1 data=58 02"));
    size_t syncs = 0;
    Sync(run, syncs);
    EXPECT_EQ(CountFrames(run, "op=11 .*"), 1u) << "no earlier request goes out again";
    EXPECT_EQ(CountFrames(run, "op=3 .*"), 1u);
    EXPECT_TRUE(run.WaitForLine(run.SerialPath(), "STATE .* steady=600 ", kBound));
}

TEST(ConsoleRequests, TheChannelTableCommandsCheckBeforeTheySend) {
    SandboxRun run;
    ASSERT_NO_FATAL_FAILURE(StartConsole(run));
    Type(run, {"36"});
    EXPECT_TRUE(run.WaitForConsole("Please set channels table first:\n", kBound));
    Type(run, {"35", "0", "63"});
    EXPECT_TRUE(run.WaitForConsole("Number of channels must be 0 to 62\n", kBound));
    EXPECT_EQ(run.ConsoleText().find("Please enter frequency:"), std::string::npos);
    Type(run, {"35", "0", "2", "abc", "903.1", "904.2"});
    EXPECT_TRUE(run.WaitForConsole("Please type again", kBound));
    EXPECT_TRUE(SawFrame(run, "op=35 len=15 addr=1 data=00 02 87 03 64 00 88 03 c8 00"));
    Type(run, {"36", "3", "36", "2"});
    EXPECT_TRUE(run.WaitForConsole("Invalid channel index 3 \n", kBound));
    EXPECT_TRUE(SawFrame(run, "op=36 len=6 addr=1 data=01"));
    EXPECT_EQ(CountFrames(run, "op=36 .*data=02"), 0u);
    EXPECT_TRUE(run.WaitForLine(run.SerialPath(), "STATE freq0=904.200 freq1=904.200 ", kBound));
}

TEST(ConsoleSettings, FrequencyAndPowerChangeTheBoardAndTheSettingsFile) {
    SandboxRun run;
    ASSERT_NO_FATAL_FAILURE(StartConsole(run));
    Type(run, {"1", "903.1", "12", "5"});
    EXPECT_TRUE(run.WaitForLine(run.SerialPath(), "STATE freq0=903.100 freq1=907.000 power0=105 power1=127 ", kBound));
    const std::string settings = run.WorkDir() + "/RF_SettingFile.txt";
    ASSERT_TRUE(run.WaitForLine(settings, "^P,1,5$", kBound));
    EXPECT_EQ(ReadFile(settings), "P,1,5\nP,2,15\nF,1,903.099976\nF,2,907.000000\n");
}

std::vector<SerialFrame> WaitForBlocks(SandboxRun& run, int op, size_t count) {
    run.WaitForLine(run.SerialPath(), "FRAME op=" + std::to_string(op) + " ", kBound, count - 1);
    return HostFrames(run, op);
}

TEST(ConsoleFirmware, AnImageGoesOutInPaddedNumberedBlocksForBothTagGenerations) {
    SandboxRun run;
    ASSERT_NO_FATAL_FAILURE(StartConsole(run));
    std::string image(300, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i);
    std::ofstream(run.WorkDir() + "/V010203_AP1.bin") << image;
    std::ofstream(run.WorkDir() + "/V123_AP0.bin") << "tiny";

    Type(run, {"22", "V010203_AP1.bin", "24", "10", "4"});
    EXPECT_TRUE(run.WaitForConsole("Unknown SW version 4, nothing sent", kBound));
    Type(run, {"24", "10", "3"});
    auto blocks = WaitForBlocks(run, 22, 3);
    ASSERT_EQ(blocks.size(), 3u) << "nothing went out for the refused choice";
    for (int n = 0; n < 3; ++n) {
        const auto& data = blocks[n].data;
        ASSERT_EQ(data.size(), 137u);
        EXPECT_EQ(std::vector<int>(data.begin(), data.begin() + 9), (std::vector<int>{5, 3, 2, 1, 0x80, n, 0, 3, 0}));
        for (int i = 0; i < 128; ++i) {
            const int at = n * 128 + i;
            EXPECT_EQ(data[9 + i], at < 300 ? at % 256 : 0xFF) << "block " << n << " byte " << i;
        }
    }
    EXPECT_EQ(ReadFile(run.WorkDir() + "/FwFileContianer.txt"), "V010203_AP1.bin");

    Type(run, {"22", "V123_AP0.bin", "23", "1", ""});
    auto older = WaitForBlocks(run, 28, 1);
    ASSERT_EQ(older.size(), 1u);
    EXPECT_EQ(std::vector<int>(older[0].data.begin(), older[0].data.begin() + 10),
              (std::vector<int>{5, 123, 0, 0, 1, 0, 't', 'i', 'n', 'y'}));
}

TEST(ConsoleEnd, AClosedTerminalEndsTheConsoleAndTheDaemonServesTagsNearIdle) {
    SandboxRun run;
    ASSERT_NO_FATAL_FAILURE(StartConsole(run, {"--tags-every", "300"}));
    run.CloseConsole();
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "CmdParseLineProc: standard input has ended", kBound));
    // The reader answers every tag message with the LED word.
    const char* answered = "FRAME op=38 ";
    const size_t before = run.MatchingLines(run.SerialPath(), answered).size();
    const pid_t daemon = run.PidFromFile("daemon.pid");
    const double cpu = CpuSeconds(daemon);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(run.WaitForLine(run.SerialPath(), answered, kBound, before + 10)) << "tags still served";
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // A thread spinning on failed reads would take a whole core.
    EXPECT_LT(CpuSeconds(daemon) - cpu, 0.3 * seconds) << "over " << seconds << " s";
    EXPECT_EQ(run.MatchingLines(run.SyslogPath(), "standard input has ended").size(), 1u);
}

}  // namespace
