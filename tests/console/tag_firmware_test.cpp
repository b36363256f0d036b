#include "console/tag_firmware.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
    const char* path;
    int found;
    TagFwVersion want;  // version, major, minor, bug, appId
};

TEST(TagFirmware, TheVersionAndTheSlotComeFromTheImageNameOnly) {
    const NameCase cases[] = {
        {"V010203_AP1.bin", 1, {0, 1, 2, 3, 0x80}},
        {"V123_AP0.bin", 1, {123, 0, 0, 0, 0}},
        {"V01020_AP1.bin", 1, {0, 1, 2, 0, 0x80}},
        {"/home/APPS_2/V0102_AP1.bin", 1, {0, 1, 2, 0, 0x80}},
        {"/Vol_1/V123_AP1.bin", 1, {123, 0, 0, 0, 0x80}},
        {"V12_AP1.bin", 0, {}},
        {"V0102030_AP1.bin", 0, {}},
        {"V1x3_AP1.bin", 0, {}},
        {"V123_XP1.bin", 0, {}},
        {"V123_AP", 0, {}},
        {"V123_APx.bin", 0, {}},
        {"/fw/V123/image_AP1.bin", 0, {}},
    };
    for (const NameCase& c : cases) {
        TagFwVersion got;
        got.version = 99;  // nothing of an earlier image may stay
        ASSERT_EQ(extractVersion(c.path, &got), c.found) << c.path;
        if (!c.found) continue;
        EXPECT_EQ(got.version, c.want.version) << c.path;
        EXPECT_EQ(got.major, c.want.major) << c.path;
        EXPECT_EQ(got.minor, c.want.minor) << c.path;
        EXPECT_EQ(got.bug, c.want.bug) << c.path;
        EXPECT_EQ(got.appId, c.want.appId) << c.path;
    }
}

}  // namespace
