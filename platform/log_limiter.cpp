#include "platform/log_limiter.h"

LogRateLimiter::LogRateLimiter(size_t texts) : windows_(texts) {}

LogRateLimiter::Verdict LogRateLimiter::Admit(size_t text, long long nowMicros) {
    Window& window = windows_.at(text);
    Verdict verdict{true, 0};
    if (!window.open || nowMicros - window.startMicros >= kWindowMicros) {
        verdict.heldBefore = window.open ? window.held : 0;
        window = Window{true, nowMicros, 0, 0};
    }
    if (window.passed < kLinesPerWindow) {
        ++window.passed;
    } else {
        ++window.held;
        verdict.pass = false;
    }
    return verdict;
}

std::vector<std::pair<size_t, uint64_t>> LogRateLimiter::TakeEnded(long long nowMicros) {
    std::vector<std::pair<size_t, uint64_t>> ended;
    for (size_t text = 0; text < windows_.size(); ++text) {
        Window& window = windows_[text];
        if (!window.open || nowMicros - window.startMicros < kWindowMicros) continue;
        if (window.held > 0) ended.emplace_back(text, window.held);
        window = Window{};
    }
    return ended;
}
