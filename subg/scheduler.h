// The link's scheduler, run by the listener at every silence on the line:
// the link's own duties (silence watchdog, one queued request written out,
// the board reset, the hand-over of gathered bytes to the parser) around
// the reader's housekeeping, which app/ installs.
#pragma once

#include <atomic>
#include <cstdint>

// 1 once the board has answered a software-version request; cleared by
// every watchdog reset.
extern std::atomic<uint8_t> SubGBoardConnected;
// 1 while the console sends tag firmware through the board.
extern std::atomic<uint8_t> WhileInFWUpgrade;

// About 12.5 s of silences without a byte from a connected board.
constexpr int kSilencesBeforeReset = 5000;

// The reader's periodic work, called on the listener thread. Each may be
// nullptr.
struct LinkHousekeeping {
    // Once, when the listener starts its loop.
    void (*start)();
    // At a silence while the board is connected, after the silence watchdog
    // and before the queued request goes out.
    void (*whileConnected)();
    // At every silence, connected or not, after the queued request.
    void (*everySilence)();
};

// Installs the housekeeping; called once before the listener starts.
void SetLinkHousekeeping(const LinkHousekeeping& housekeeping);

// Called once by the listener before its loop.
void InitLinkDuties();

void NoDataWaitingOnSerial();

// Pulses the reset line and marks the board disconnected until it answers
// again.
void ResetBoard();
