// This program's version, as the version file, the parameter file and the
// RTC see it.
#pragma once

#include <cstdint>

constexpr int kTarnelVersion[4] = {1, 9, 11, 0};

// The same as one number: major, minor, build and patch, two decimal digits
// each below the major.
constexpr int32_t kUserSpaceAppVersion =
    kTarnelVersion[0] * 1000000 + kTarnelVersion[1] * 10000 + kTarnelVersion[2] * 100 + kTarnelVersion[3];
static_assert(kUserSpaceAppVersion == 1091100, "the number the parameter file has always carried");
