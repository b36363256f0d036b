// The schedule of a steady stream of N frames a second. Frame k is due
// k/N seconds after the stream's anchor, worked out from k each time so
// that rounding never piles up into drift. Pure, no I/O.
#pragma once

#include <chrono>
#include <cstdint>

constexpr uint32_t kMaxTagRate = 1000;

// How late a stream may fall behind before it gives up the missed frames
// and starts afresh from now, rather than catching up in a burst.
constexpr std::chrono::milliseconds kMaxRateLag{100};

// The time from the anchor to frame index of a stream of perSecond frames.
std::chrono::nanoseconds RateOffset(uint32_t perSecond, uint64_t index);

struct RateSchedule {
    using Clock = std::chrono::steady_clock;

    uint32_t perSecond = 0;  // stopped when 0
    Clock::time_point anchor;
    // The next frame's number; the anchor itself is the time of frame 0.
    uint64_t next = 0;
};

RateSchedule StartRate(uint32_t perSecond, RateSchedule::Clock::time_point now);
RateSchedule::Clock::time_point NextDue(const RateSchedule& rate);
// Counts a frame sent at now as the one that was due.
void AdvanceRate(RateSchedule* rate, RateSchedule::Clock::time_point now);
