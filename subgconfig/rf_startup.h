// The start-up procedure: once the board has answered, the working
// parameters are loaded, the board gets the parameter set it is owed and
// the technician's RF settings file is applied to the radios; then the link
// to the RTC may start.
#pragma once

#include <atomic>
#include <cstdint>

// Set once the start-up procedure has finished; the backbone waits for it
// before it starts the link to the RTC.
extern std::atomic<uint8_t> ReadyForRTC;

// Waits for the board, loads the working parameters, sends the board the
// parameter set it asked for before they were loaded, applies the settings
// file and sets ReadyForRTC.
void LoadAndSetRFSettings();

// Waits, polling, until the board has answered for the first time.
void WaitForSubGBoard();
