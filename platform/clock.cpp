#include "platform/clock.h"

#include <atomic>

namespace {
std::atomic<time_t (*)()> Source{nullptr};
}

time_t NowSeconds() {
    time_t (*source)() = Source.load();
    return source ? source() : time(nullptr);
}

void SetNowSecondsSource(time_t (*source)()) { Source = source; }

int SetSystemClock(const timeval& time) { return settimeofday(&time, nullptr); }
