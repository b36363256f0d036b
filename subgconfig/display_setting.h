// The verbose flag file: while ".//display_setting" exists and is fresh,
// the reply handlers log what the board reports.
#pragma once

constexpr const char* kDisplaySettingPath = ".//display_setting";
constexpr long kDisplaySettingMaxAgeSeconds = 864000;  // ten days

// 1 for a file modified at most ten days ago. A stale file, or one dated in
// the future, is deleted and counts as absent.
int CheckFileExist(const char* path);
