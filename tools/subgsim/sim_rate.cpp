#include "tools/subgsim/sim_rate.h"

namespace {

constexpr uint64_t kNanosPerSecond = 1000000000;

}  // namespace

// Whole seconds apart from the rest keeps the product far from overflow.
std::chrono::nanoseconds RateOffset(uint32_t perSecond, uint64_t index) {
    if (perSecond == 0) return std::chrono::nanoseconds::zero();
    uint64_t nanos = index / perSecond * kNanosPerSecond + index % perSecond * kNanosPerSecond / perSecond;
    return std::chrono::nanoseconds(static_cast<std::chrono::nanoseconds::rep>(nanos));
}

// The first frame goes out one period after the start, not at once.
RateSchedule StartRate(uint32_t perSecond, RateSchedule::Clock::time_point now) {
    RateSchedule rate;
    rate.perSecond = perSecond;
    rate.anchor = now;
    rate.next = 1;
    return rate;
}

RateSchedule::Clock::time_point NextDue(const RateSchedule& rate) {
    return rate.anchor + std::chrono::duration_cast<RateSchedule::Clock::duration>(
                             RateOffset(rate.perSecond, rate.next));
}

void AdvanceRate(RateSchedule* rate, RateSchedule::Clock::time_point now) {
    if (now - NextDue(*rate) > kMaxRateLag) {
        *rate = StartRate(rate->perSecond, now);
        return;
    }
    ++rate->next;
}
