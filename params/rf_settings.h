// The technician's hand settings of the radios, and the start-up procedure
// that applies them once the board is connected.
#pragma once

#include <atomic>
#include <cstdint>

// Set once the start-up procedure has finished; the backbone waits for it
// before it starts the link to the RTC.
extern std::atomic<uint8_t> ReadyForRTC;

// Waits for the board, loads the working parameters, applies the settings
// file and sets ReadyForRTC.
void LoadAndSetRFSettings();

// Waits, polling, until the board has answered for the first time.
void WaitForSubGBoard();
