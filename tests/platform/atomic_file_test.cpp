#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "support/scratch_dir.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

bool IsLink(const std::string& path) {
    char target[64];
    return readlink(path.c_str(), target, sizeof target) > 0;
}

struct LinkCase {
    const char* what;
    bool relativeTarget;
    bool targetExists;  // false: the RAM directory was emptied by a reboot
};

// The installation links a file of the working directory (on flash) to one
// in RAM: saves and the removal at start-up must reach the file in RAM and
// leave the link, or the next save would land on the flash.
TEST(AtomicFile, ASaveThroughALinkReplacesTheLinkedFileAndKeepsTheLink) {
    const LinkCase cases[] = {
        {"absolute target", false, true},
        {"relative target", true, true},
        {"target not there yet", false, false},
    };
    for (const LinkCase& c : cases) {
        ScratchDir flash("tarnel-flash-");
        ScratchDir ram("tarnel-ram-");
        const std::string target = ram.Path() + "/state.txt";
        const std::string link = flash.Path() + "/state.txt";
        if (c.targetExists) std::ofstream(target) << "old";
        const std::string named = c.relativeTarget ? "../" + ram.Path().substr(5) + "/state.txt" : target;
        ASSERT_EQ(symlink(named.c_str(), link.c_str()), 0) << c.what;

        EXPECT_EQ(FollowLink(link.c_str()), c.relativeTarget ? flash.Path() + "/" + named : target) << c.what;
        ASSERT_TRUE(WriteFileAtomically(link.c_str(), "new", 3)) << c.what;
        EXPECT_TRUE(IsLink(link)) << c.what;
        EXPECT_EQ(ReadAll(target), "new") << c.what;
        EXPECT_EQ(access((target + ".tmp").c_str(), F_OK), -1) << c.what;

        ASSERT_EQ(std::remove(FollowLink(link.c_str()).c_str()), 0) << c.what;
        EXPECT_TRUE(IsLink(link)) << c.what;
        EXPECT_EQ(access(target.c_str(), F_OK), -1) << c.what;
    }
}

}  // namespace
