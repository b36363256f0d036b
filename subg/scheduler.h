// The link's scheduler, run by the listener at every silence on the line:
// board supervision (silence and tag watchdogs), periodic requests
// (diagnostics, channel scan, LED word, keep-alive questions), one queued
// request written out, and the hand-over of gathered bytes to the parser.
#pragma once

#include <atomic>
#include <cstdint>

// 1 once the board has answered a software-version request; cleared by
// every watchdog reset.
extern std::atomic<uint8_t> SubGBoardConnected;
// 1 after a reset for lack of tag messages, until the next tag message.
extern std::atomic<uint8_t> TagCommTimeout;
// The LED word; tag messages set its traffic bit.
extern std::atomic<uint8_t> LedsWord;
// 1 while the console sends tag firmware through the board.
extern std::atomic<uint8_t> WhileInFWUpgrade;

// About 12.5 s of silences without a byte from a connected board.
constexpr int kSilencesBeforeReset = 5000;

// Called once by the listener before its loop.
void InitLinkDuties();

void NoDataWaitingOnSerial();

// Makes the hourly MEMS state change due at once; a new MEMS parameter line
// calls it.
void ExpireMEMSStateTimer();
