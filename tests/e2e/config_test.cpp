// The board's radio configuration end to end: the upload at connection, the
// corrections of the keep-alive round, and the technician's RF settings file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "sandbox_run.h"

namespace {

constexpr int kBound = 90;
const char* kReady = "LoadAndSetRFSettings: ReadyForRTC set";

std::vector<int> Opcodes(const std::vector<SerialFrame>& frames) {
    std::vector<int> ops;
    for (const auto& f : frames) ops.push_back(f.op);
    return ops;
}

// True when want appears in have in this order (other opcodes may lie between).
bool InOrder(const std::vector<int>& have, const std::vector<int>& want) {
    auto at = have.begin();
    for (int op : want) {
        at = std::find(at, have.end(), op);
        if (at == have.end()) return false;
        ++at;
    }
    return true;
}

double Mhz(const SerialFrame& setFreq) {
    return setFreq.data[1] + setFreq.data[2] * 256 + (setFreq.data[3] + setFreq.data[4] * 256) / 1000.0;
}

TEST(Config, AFreshBoardGetsTheWholeParameterSetAndTheRadiosEndAt907) {
    SandboxRun run;
    run.Start({90, {"--initial-freq", "0", "--initial-steady", "0"}, {}});
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), kReady, kBound));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "STATE freq0=907.000 freq1=907.000 .* steady=300 ", kBound));
    EXPECT_TRUE(InOrder(Opcodes(HostFrames(run)), {35, 24, 37, 12, 12}));
    for (const auto& f : HostFrames(run, 2)) EXPECT_GE(Mhz(f), 868.1) << "never toward an unset frequency";
}

TEST(Config, AFreshReaderWithoutFilesNeverSendsAFrequencyBelowTheLowestChannel) {
    SandboxRun run;
    run.Start({90, {"--version", "1.6.9"}, {}});
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), kReady, kBound));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=27 .*data=01", kBound));
    for (const auto& f : HostFrames(run, 2)) EXPECT_GE(Mhz(f), 868.1);
}

TEST(Config, ALostFrequencyAndALostIntervalAreCorrectedWithinARound) {
    SandboxRun run;
    run.Start({120, run.ControlArgs(), {}});
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), kReady, kBound));
    // The first keep-alive question queues behind the upload: the board has
    // its parameters by then.
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=27 ", kBound));
    const char* radio2Freq = "FRAME op=2 len=11 addr=1 data=01 8b 03 00 00 00$";
    size_t sentBefore = run.MatchingLines(run.SerialPath(), radio2Freq).size();
    ASSERT_TRUE(run.Control("forget freq 1"));
    ASSERT_TRUE(run.Control("forget steady"));
    // The mismatch is logged as well, but that line is rate-limited and a
    // slow start may have spent the minute's lines on the upload: the
    // frames tell.
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), radio2Freq, kBound, sentBefore)) << "the correction went out";
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=37 len=7 addr=1 data=2c 01$", kBound));
    EXPECT_TRUE(run.WaitForLine(run.SerialPath(), "STATE freq0=907.000 freq1=907.000 .* steady=300 ", kBound));
}

TEST(Config, AFailedParameterCheckSendsTheWholeSetAgain) {
    SandboxRun run;
    run.Start({120, run.ControlArgs(), {}});
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), kReady, kBound));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=24 ", kBound));
    size_t uploads = HostFrames(run, 24).size();
    ASSERT_TRUE(run.Control("paramcheck 0"));
    EXPECT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=24 ", 45, uploads));
}

TEST(Config, TheRfSettingsFileReachesTheBoardBeforeReadyForRtc) {
    SandboxRun run;
    ASSERT_EQ(system(("mkdir -p " + run.WorkDir()).c_str()), 0);
    std::ofstream(run.WorkDir() + "/RF_SettingFile.txt") << "P,1,-6\nF,2,903.1\n";
    run.Start({90, {}, {}});
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), kReady, kBound));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=12 len=7 addr=1 data=00 4f$", kBound));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=2 len=11 addr=1 data=01 87 03 64 00 00$", kBound));
    auto sent = run.MatchingLines(run.SyslogPath(), "LoadAndSetRFSettings: Message sent");
    auto ready = run.MatchingLines(run.SyslogPath(), kReady);
    ASSERT_EQ(sent.size(), 2u);
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_LT(LineTime(sent.back()), LineTime(ready.front()));
    EXPECT_TRUE(run.WaitForLine(run.SerialPath(), "STATE .*freq1=903.100 .*power0=79 ", kBound));
}

}  // namespace
