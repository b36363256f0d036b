// Firmware upgrades of the board end to end: image files dropped into the
// working directory, the simulated board's boot loader and boot ROM, and
// tag messages served again after every outcome.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "sandbox_run.h"

namespace {

constexpr int kBound = 150;
// Version 1.6.11.0, which the simulated board then reports.
const char* kAppImage = "RD2_A_01_01061100.hex";

std::vector<std::string> HexLines(int n) {
    std::vector<std::string> lines;
    for (int i = 0; i < n; ++i) lines.push_back(":1000" + std::to_string(1000 + i) + "00214601360121470136007EFE09D2\n");
    return lines;
}

void PutImage(const SandboxRun& run, const std::string& name, const std::vector<std::string>& lines) {
    ASSERT_EQ(std::system(("mkdir -p " + run.WorkDir()).c_str()), 0);
    std::ofstream file(run.WorkDir() + "/" + name, std::ios::binary);
    for (const auto& line : lines) file << line;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Waits until the serial record has gone past time t; the board sends a tag
// message every half second.
bool WaitForRecordTime(SandboxRun& run, double t) {
    for (int i = 0; i < 1000; ++i) {
        const auto tags = run.MatchingLines(run.SerialPath(), "SENT op=0 ");
        if (!tags.empty() && LineTime(tags.back()) > t) return true;
        if (!run.WaitForLine(run.SerialPath(), "SENT op=0 ", 10, tags.size())) return false;
    }
    return false;
}

void Start(SandboxRun* run, int seconds, std::vector<std::string> simArgs = {}) {
    simArgs.insert(simArgs.end(), {"--tags-every", "500"});
    for (const auto& a : run->ControlArgs()) simArgs.push_back(a);
    run->Start({seconds, simArgs, {}});
}

// The image lines the board received, a line written again (its reply came
// after the wait, as on a busy host) counted once.
std::vector<SerialFrame> ImageLinesSent(const SandboxRun& run) {
    std::vector<SerialFrame> lines;
    for (SerialFrame& frame : HostFrames(run, 16))
        if (lines.empty() || lines.back().data != frame.data) lines.push_back(std::move(frame));
    return lines;
}

double TimeOfLine(const SandboxRun& run, const std::string& file, const std::string& pattern) {
    auto lines = run.MatchingLines(file, pattern);
    return lines.empty() ? 0 : LineTime(lines.front());
}

// The parser and the transmit path work as before: each new tag message is
// followed at once by the LED word.
void ExpectTagsServedAgain(SandboxRun& run) {
    size_t before = run.MatchingLines(run.SerialPath(), "SENT op=0 ").size();
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "SENT op=0 ", kBound, before + 4));
    auto lines = run.MatchingLines(run.SerialPath(), "SENT op=0 |FRAME op=38 ");
    size_t tags = 0;
    int served = 0;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].find("SENT op=0 ") == std::string::npos || tags++ < before) continue;
        served += lines[i + 1].find("FRAME op=38 ") != std::string::npos && LineTime(lines[i + 1]) - LineTime(lines[i]) < 1.0;
    }
    EXPECT_GE(served, 3);
}

TEST(Upgrade, AnApplicationImageIsSentLineByLineActivatedAndTheBoardServesTagsAgain) {
    SandboxRun run;
    const auto lines = HexLines(6);
    PutImage(run, kAppImage, lines);
    Start(&run, 120);
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), std::string("ProcessFWUpgrade: unlinking ") + kAppImage, kBound));
    EXPECT_FALSE(Exists(run.WorkDir() + "/" + kAppImage));

    auto sent = ImageLinesSent(run);
    ASSERT_EQ(sent.size(), lines.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        ASSERT_EQ(sent[i].data.size(), lines[i].size() + 3);
        EXPECT_EQ(sent[i].data[0] + 256 * sent[i].data[1], static_cast<int>(i));
        EXPECT_EQ(sent[i].data[2], 1);
        EXPECT_EQ(std::string(sent[i].data.begin() + 3, sent[i].data.end()), lines[i]);
    }
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "LOADER activate application version=0x01060b00 marker=0xba", 5));
    double activated = TimeOfLine(run, run.SerialPath(), "LOADER activate ");
    EXPECT_GT(TimeOfLine(run, run.SerialPath(), "FRAME op=16 "), TimeOfLine(run, run.SerialPath(), "LOADER enter loader"));
    bool resetAfter = false;
    for (const auto& l : run.MatchingLines(run.SerialPath(), "RESET low")) resetAfter |= LineTime(l) > activated;
    EXPECT_TRUE(resetAfter);
    const double done = TimeOfLine(run, run.SyslogPath(), "ProcessFWUpgrade: Reset sent");
    bool askedAgain = false;
    for (size_t skip = 0; !askedAgain && run.WaitForLine(run.SerialPath(), "FRAME op=41 ", 30, skip); ++skip)
        askedAgain = LineTime(run.MatchingLines(run.SerialPath(), "FRAME op=41 ")[skip]) > done;
    EXPECT_TRUE(askedAgain) << "versions asked again";
    // A success once the board reports the image's version.
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "ProcessFWUpgrade: Image activated!!! \\(ImgAction = 1\\)", 60));
    EXPECT_GT(TimeOfLine(run, run.SyslogPath(), "Image activated!!!"), done);
    EXPECT_TRUE(run.MatchingLines(run.SyslogPath(), "not the activated").empty());
    ExpectTagsServedAgain(run);
}

TEST(Upgrade, ALoaderErrorOnLine5LogsItsTextAndDeletesTheImage) {
    SandboxRun run;
    PutImage(run, kAppImage, HexLines(10));
    Start(&run, 120);
    ASSERT_TRUE(run.Control("loader line 5 error 3"));
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "ProcessFWUpgrade: Boot loader replied line checksum error", kBound));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "LOADER restart", 10));
    EXPECT_FALSE(Exists(run.WorkDir() + "/" + kAppImage));
    EXPECT_EQ(ImageLinesSent(run).size(), 6u);
    EXPECT_TRUE(run.MatchingLines(run.SerialPath(), "LOADER activate").empty());
    ExpectTagsServedAgain(run);
}

TEST(Upgrade, LoaderError6AsksOnceForTheServiceInformation) {
    SandboxRun run;
    PutImage(run, kAppImage, HexLines(3));
    Start(&run, 120);
    ASSERT_TRUE(run.Control("loader line 0 error 6"));
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "replied can not set image address or version already active", kBound));
    double error = TimeOfLine(run, run.SyslogPath(), "version already active");
    ExpectTagsServedAgain(run);
    int asked = 0;
    for (const auto& f : HostFrames(run, 41)) asked += f.t > error;
    EXPECT_EQ(asked, 1);
}

TEST(Upgrade, ABoardOnSoftware169GetsNoProcedureAndTheImageIsDeleted) {
    SandboxRun run;
    PutImage(run, kAppImage, HexLines(3));
    Start(&run, 90, {"--version", "1.6.9"});
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "ProcessFWUpgrade: SubGBoard Has no boot loader \\(SubGVersion = 10609", kBound));
    EXPECT_FALSE(Exists(run.WorkDir() + "/" + kAppImage));
    EXPECT_TRUE(HostFrames(run, 254).empty());
    ExpectTagsServedAgain(run);
}

TEST(Upgrade, ADeactivationFileDeactivatesTheApplicationImage) {
    SandboxRun run;
    PutImage(run, "DE_RD2_A_01_01020304", {});
    Start(&run, 120);
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "WaitForBootLoader: unlinking DE_RD2_A_01_01020304", kBound));
    EXPECT_TRUE(run.WaitForLine(run.SerialPath(), "LOADER deactivate application version=0x01020304 marker=0xba", 5));
    EXPECT_FALSE(Exists(run.WorkDir() + "/DE_RD2_A_01_01020304"));
    EXPECT_TRUE(HostFrames(run, 16).empty());
    ExpectTagsServedAgain(run);
}

TEST(Upgrade, AnImageWithALineTooLongForAFrameIsSetAsideBeforeTheBoardIsTouched) {
    SandboxRun run;
    PutImage(run, kAppImage, {":00000001FF\n", std::string(300, 'A') + "\n"});
    Start(&run, 90);
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), std::string("CheckImageLines: line 1 of ") + kAppImage + " is longer than 247", kBound));
    EXPECT_TRUE(Exists(run.WorkDir() + "/rejected_" + kAppImage));
    EXPECT_FALSE(Exists(run.WorkDir() + "/" + kAppImage));
    ExpectTagsServedAgain(run);
    EXPECT_TRUE(HostFrames(run, 254).empty());
    EXPECT_TRUE(HostFrames(run, 16).empty());
    EXPECT_EQ(run.MatchingLines(run.SyslogPath(), "Resetting subG").size(), 1u) << "only the one at start";
}

// Set aside, the image is no image: three more rounds pass without a board
// reset, and the search still runs (it sets aside a name without a version).
TEST(Upgrade, ABootRomThatNeverAnswersCostsThreeAttemptsThenTheImageStaysAside) {
    SandboxRun run;
    const std::string image = "RD2_L_01_02000000.hex";
    PutImage(run, image, HexLines(3));
    Start(&run, 240);
    ASSERT_TRUE(run.Control("loader off"));
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "CountFailedAttempt: " + image + " failed 3 times, renamed to failed_" + image, kBound));
    const double setAside = TimeOfLine(run, run.SyslogPath(), "CountFailedAttempt: ");
    EXPECT_EQ(HostFrames(run, 15).size(), 15u) << "five tries an attempt";
    EXPECT_TRUE(Exists(run.WorkDir() + "/failed_" + image));
    EXPECT_FALSE(Exists(run.WorkDir() + "/" + image));

    ASSERT_TRUE(WaitForRecordTime(run, setAside + 3 * 6 + 2)) << "three more rounds";
    PutImage(run, "RD2_A_01_1.hex", HexLines(1));
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "cannot read the version of RD2_A_01_1.hex, renamed to rejected_RD2_A_01_1.hex", 30));
    EXPECT_TRUE(Exists(run.WorkDir() + "/rejected_RD2_A_01_1.hex"));
    EXPECT_TRUE(Exists(run.WorkDir() + "/failed_" + image));
    EXPECT_EQ(run.MatchingLines(run.SyslogPath(), "did not stop on Boot rom").size(), 3u) << "not tried again";
    int resetsAfter = 0;
    for (const auto& l : run.MatchingLines(run.SerialPath(), "RESET low")) resetsAfter += LineTime(l) > setAside;
    EXPECT_EQ(resetsAfter, 0);
    ExpectTagsServedAgain(run);
}

}  // namespace
