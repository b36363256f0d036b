// SIGKILL at random moments of the daemon's saves never leaves a
// ParamFiles.txt or DataBackup.bin its loaders refuse: scripts/kill-test,
// short. The script runs a thousand for a campaign.
#include <gtest/gtest.h>

#include <iostream>

#include "sandbox_run.h"

TEST(Kill, TwentyKillsDuringSavesLeaveEveryFileWhole) {
    const CommandResult result =
        RunCommand({"env", "TARNEL_BUILD_DIR=" + BuildDir(), "TARNEL_KILL_TEST_NO_BUILD=1",
                    std::string(TARNEL_SOURCE_DIR) + "/scripts/kill-test", "20"},
                   600);
    std::cout << result.out;
    EXPECT_EQ(result.status, 0);
}
