// SIGKILL at random moments of the daemon's saves never leaves a
// ParamFiles.txt or DataBackup.bin its loaders refuse, loses no record
// sent more than 2 s before the kill, and brings no package the RTC
// persisted a second before the kill to it again: scripts/kill-test,
// short. The script runs a thousand for a campaign.
#include <gtest/gtest.h>

#include <iostream>
#include <regex>

#include "sandbox_run.h"

TEST(Kill, TwentyKillsDuringSavesLeaveEveryFileWholeAndLoseNoOlderRecord) {
    const CommandResult result =
        RunCommand({"env", "TARNEL_BUILD_DIR=" + BuildDir(), "TARNEL_KILL_TEST_NO_BUILD=1",
                    std::string(TARNEL_SOURCE_DIR) + "/scripts/kill-test", "20"},
                   600);
    std::cout << result.out;
    EXPECT_EQ(result.status, 0);
    // The loss check had records to judge: some daemons lived on past
    // their backup's load by more than the 2 s a kill may cost.
    std::smatch counted;
    ASSERT_TRUE(std::regex_search(result.out, counted, std::regex("([0-9]+) records counted")));
    EXPECT_GT(std::stoul(counted[1].str()), 0u);
}
