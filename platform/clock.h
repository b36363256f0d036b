// Wall-clock seconds for the periodic duties; tests substitute their own
// clock to step time without waiting for it.
#pragma once

#include <ctime>

time_t NowSeconds();

// nullptr restores the system clock.
void SetNowSecondsSource(time_t (*source)());
