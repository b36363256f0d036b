// The link's scheduler, run by the listener at every silence: board
// supervision, periodic requests, and the hand-over of gathered bytes.
#pragma once

#include <atomic>
#include <cstdint>

// 1 once the board has answered a software-version request.
extern std::atomic<uint8_t> SubGBoardConnected;

// Called once by the listener before its loop.
void InitLinkDuties();

void NoDataWaitingOnSerial();
