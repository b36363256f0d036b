// The verbose flag file: while ".//display_setting" exists and is fresh,
// the link and the reply handlers log what they get.
#pragma once

#include <atomic>
#include <cstdint>

constexpr const char* kDisplaySettingPath = ".//display_setting";
constexpr long kDisplaySettingMaxAgeSeconds = 864000;  // ten days

// 1 while the flag file is fresh. Kept by RefreshDisplaySetting, so that the
// serial threads read a flag instead of asking the disk.
extern std::atomic<uint8_t> DisplaySettings;

// 1 for a file modified at most ten days ago. A stale file, or one dated in
// the future, is deleted and counts as absent.
int CheckFileExist(const char* path);

// Looks at the flag file at most once a second.
void RefreshDisplaySetting();
