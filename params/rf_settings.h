// The technician's hand settings of the radios, kept in ".//RF_SettingFile.txt"
// and applied at every start, and the start-up procedure that applies them
// once the board is connected.
#pragma once

#include <atomic>
#include <cstdint>

inline constexpr char RFSettingFilePath[] = ".//RF_SettingFile.txt";
static_assert(sizeof(RFSettingFilePath) == 22, "the path fits its 22-byte array");

// Set once the start-up procedure has finished; the backbone waits for it
// before it starts the link to the RTC.
extern std::atomic<uint8_t> ReadyForRTC;

// Output power of radio 1 and radio 2, dBm.
extern std::atomic<int> Radio1Power;
extern std::atomic<int> Radio2Power;

// Rewrites the settings file from the radios' powers and frequencies. An
// interrupted save leaves the previous file whole.
void SaveRFSettings();

// Waits for the board, loads the working parameters, sends the board the
// parameter set it asked for before they were loaded, applies the settings
// file and sets ReadyForRTC.
void LoadAndSetRFSettings();

// Waits, polling, until the board has answered for the first time.
void WaitForSubGBoard();

// One line of at most 14 characters from standard input, by ParseNumStr;
// the rest of a longer line is dropped.
int32_t ParseNum();
