// The age of the SubG board's software, told by its application version as
// one number (major × 10000 + minor × 100 + build, the working parameter
// SubGAppVersion). Every layer that reads the board's replies asks it.
#pragma once

#include <cstdint>

// Board software up to this version has no boot loader, knows the channel
// tables by itself and sends diagnostics with frequencies.
constexpr uint32_t kLastSubGVersionWithoutLoader = 10609;

// The one test of the board's software age. Version 0 is not known yet: it
// has no boot loader as far as the host can tell, but it is not known old.
constexpr bool HasBootLoader(uint32_t version) { return version > kLastSubGVersionWithoutLoader; }
constexpr bool IsOldBoardSoftware(uint32_t version) { return version != 0 && !HasBootLoader(version); }
