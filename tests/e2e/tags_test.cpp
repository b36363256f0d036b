// Tag messages from the board end to end: the CSV logs on the reader, the
// LED word after each message, and bad messages dropped without harm.
#include <glob.h>
#include <gtest/gtest.h>

#include <fstream>

#include "sandbox_run.h"

namespace {

constexpr int kBound = 90;

std::string OnlyFile(const std::string& pattern) {
    glob_t found{};
    std::string path;
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0 && found.gl_pathc == 1) path = found.gl_pathv[0];
    globfree(&found);
    return path;
}

TEST(Tags, TagMessagesBecomeRowsOfTheActivityLogInHome) {
    SandboxRun run;
    run.Start({60, {"--tags-every", "300", "--tag-id", "4242"}, {}});
    // Records reach the backbone after their rows are written.
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "ZemloBackboneTh: ([5-9]|[0-9]{2,}) tag records taken", kBound));
    std::string log = OnlyFile(run.Dir() + "/home/TagsActivity_[0-9][0-9][0-9][0-9][0-9][0-9]_[0-9][0-9][0-9][0-9].csv");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(run.MatchingLines(log, "^RADIO, Sec,MiliSec,").size(), 1u) << "one header";
    EXPECT_GE(run.MatchingLines(log, "^RADIO_1, [0-9]+, [0-9]+, 4242, [0-9]+, 120, 200, 1, 30, -86, Standing, False$").size(), 5u);
}

TEST(Tags, TheOptionFNamesTheActivityLog) {
    SandboxRun run;
    run.Start({60, {"--tags-every", "300"}, {"-f", "/home/activity.csv"}});
    std::string log = run.Dir() + "/home/activity.csv";
    EXPECT_TRUE(run.WaitForLine(log, "^RADIO_1, ", kBound, 3));
}

TEST(Tags, EveryTagMessageIsFollowedAtOnceByTheLedWordWithTheTrafficBit) {
    SandboxRun run;
    run.Start({60, {"--tags-every", "700"}, {}});
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "ReadyForRTC set", kBound));
    size_t before = run.MatchingLines(run.SerialPath(), "SENT op=0 ").size();
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "SENT op=0 ", kBound, before + 5));
    auto lines = run.MatchingLines(run.SerialPath(), "SENT op=0 |FRAME op=38 ");
    int checked = 0;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].find("SENT op=0 ") == std::string::npos) continue;
        if (checked++ < static_cast<int>(before)) continue;
        const std::string& next = lines[i + 1];
        ASSERT_NE(next.find("FRAME op=38 "), std::string::npos) << lines[i];
        int led = std::stoi(next.substr(next.find("data=") + 5), nullptr, 16);
        EXPECT_EQ(led & 0x80, 0x80);
        EXPECT_LT(LineTime(next) - LineTime(lines[i]), 1.0);
    }
    EXPECT_GE(checked, 5);
}

}  // namespace
