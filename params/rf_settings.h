// The technician's hand settings of the radios, kept in ".//RF_SettingFile.txt"
// and applied at every start (by the start-up procedure in subgconfig/).
#pragma once

#include <atomic>
#include <cstdint>

inline constexpr char RFSettingFilePath[] = ".//RF_SettingFile.txt";
static_assert(sizeof(RFSettingFilePath) == 22, "the path fits its 22-byte array");

// Output power of radio 1 and radio 2, dBm.
extern std::atomic<int> Radio1Power;
extern std::atomic<int> Radio2Power;

// Rewrites the settings file from the radios' powers and frequencies. An
// interrupted save leaves the previous file whole.
void SaveRFSettings();

// One line of at most 14 characters from standard input, by ParseNumStr;
// the rest of a longer line is dropped.
int32_t ParseNum();
