// Wall-clock seconds for the periodic duties; tests substitute their own
// clock to step time without waiting for it.
#pragma once

#include <sys/time.h>

#include <ctime>

time_t NowSeconds();

// nullptr restores the system clock.
void SetNowSecondsSource(time_t (*source)());

// Sets the system clock; 0, or -1 with errno set (EPERM without the right
// to set the time).
int SetSystemClock(const timeval& time);
