// The rate limit of log lines whose number an outside party decides (an
// RTC, a board, a broadcast, a file): per text, the first few lines of a
// minute pass as they are, the rest are only counted, and their count is
// said once the minute is over. Pure logic: the caller passes the time in
// and does the logging.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class LogRateLimiter {
public:
    // Lines of one text that pass within a window; the window is a minute
    // from the first line of the text that found none open.
    static constexpr unsigned kLinesPerWindow = 3;
    static constexpr long long kWindowMicros = 60LL * 1000 * 1000;

    // Texts are numbered 0 to texts - 1; memory stays what they take here.
    explicit LogRateLimiter(size_t texts);

    struct Verdict {
        bool pass;
        // Lines of this text held back in a window that has just ended: to
        // be said before this line.
        uint64_t heldBefore;
    };
    Verdict Admit(size_t text, long long nowMicros);

    // The texts whose window has ended with lines held back, and how many;
    // every ended window closes, so that the next line passes at once.
    // Allocates nothing when there is nothing to say.
    std::vector<std::pair<size_t, uint64_t>> TakeEnded(long long nowMicros);

private:
    struct Window {
        bool open = false;
        long long startMicros = 0;
        unsigned passed = 0;
        uint64_t held = 0;
    };
    std::vector<Window> windows_;
};
