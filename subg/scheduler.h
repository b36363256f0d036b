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

// About 12.5 s without a byte from a connected board (5000 silences of
// 2.5 ms) resets it.
constexpr long long kSilentLineResetMicros = 12500000;

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

// True while the link has work that the next silence moves on: a frame in
// the transmit slot, or a queued request for a connected board.
bool LinkDutiesPending();

// When the silence watchdog resets a connected board that stays silent
// (monotonic microseconds); far away while the board is not connected.
long long SilenceWatchdogDeadline();

// The silence watchdog counts afresh from now: the port was lent, and the
// bytes it carried meanwhile went to the borrower.
void RestartSilenceWatchdog();

// Pulses the reset line and marks the board disconnected until it answers
// again.
void ResetBoard();
