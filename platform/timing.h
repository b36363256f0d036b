// Timed waits used by every thread of the daemon.
#pragma once

#include <sys/time.h>

// Sleeps us microseconds; a million and more mean whole seconds too.
int MicroSecSleep(int us);

// Waits until fd is readable (1) or the timeout has passed (0). fd 0 means
// no descriptor: a plain timed sleep. fd < 0 and select failures log and
// return 0.
int WaitForData(int fd, timeval timeout);

// Microseconds on a clock that the wall clock's settings do not move.
long long MonotonicMicros();

// Microseconds until time() next moves on to a new second.
long long MicrosToNextWallSecond();
