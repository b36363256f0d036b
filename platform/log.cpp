#include "platform/log.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/log_limiter.h"
#include "platform/timing.h"

namespace {

// Enough for any error line of the daemon; a longer one is cut.
constexpr size_t kLastErrorBytes = 256;

std::atomic<int> Level{LOG_DEBUG};

// Written once before the other threads start, read-only afterwards.
const char* const* LimitedTexts = nullptr;
size_t LimitedTextCount = 0;

// Guards the limiter, the level each limited text last came at, and the
// last error line. Innermost: held only to count or copy, never while
// sending to syslog.
std::mutex LogLineMutex;
std::unique_ptr<LogRateLimiter> Limiter;
std::vector<int> LimitedPriority;
char LastError[kLastErrorBytes] = {};
time_t LastErrorTime = 0;

// The limited text's number, or -1. Format strings are literals, so the
// same text is mostly the same pointer; the comparison covers the rest.
int LimitedTextIndex(const char* format) {
    for (size_t i = 0; i < LimitedTextCount; ++i) {
        if (LimitedTexts[i] == format || std::strcmp(LimitedTexts[i], format) == 0) return static_cast<int>(i);
    }
    return -1;
}

void Send(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Send(int priority, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

// Straight to syslog: a count is neither limited nor the last error line.
void SendText(int priority, const std::string& text) { Send(priority, "%s", text.c_str()); }

// Skips a printf conversion after its '%': flags, width, precision,
// length and the conversion character.
const char* SkipConversion(const char* p) {
    p += std::strspn(p, "-+ #0'");
    p += std::strspn(p, "0123456789*");
    if (*p == '.') p += 1 + std::strspn(p + 1, "0123456789*");
    p += std::strspn(p, "hlLqjzt");
    return *p ? p + 1 : p;
}

std::string Grouped(uint64_t n) {
    std::string digits = std::to_string(n);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

}  // namespace

std::string HeldBackLine(const char* format, uint64_t count) {
    std::string text;
    for (const char* p = format; *p;) {
        if (*p != '%') {
            text += *p++;
        } else if (p[1] == '%') {
            text += '%';
            p += 2;
        } else {
            text += "...";
            p = SkipConversion(p + 1);
        }
    }
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text + " repeated " + Grouped(count) + (count == 1 ? " time" : " times") + " in the last minute";
}

void LogLine(int priority, const char* format, ...) {
    if (LOG_PRI(priority) > Level.load(std::memory_order_relaxed)) return;
    // The caller's errno, for %m and for the caller after the call.
    const int callerErrno = errno;
    const int text = LimitedTextIndex(format);
    LogRateLimiter::Verdict verdict{true, 0};
    if (text >= 0) {
        std::lock_guard<std::mutex> lock(LogLineMutex);
        verdict = Limiter->Admit(static_cast<size_t>(text), MonotonicMicros());
        LimitedPriority[static_cast<size_t>(text)] = priority;
    }
    if (verdict.heldBefore > 0) SendText(priority, HeldBackLine(format, verdict.heldBefore));

    va_list args;
    va_start(args, format);
    if (LOG_PRI(priority) <= LOG_ERR) {
        char line[kLastErrorBytes];
        va_list copy;
        va_copy(copy, args);
        errno = callerErrno;
        std::vsnprintf(line, sizeof line, format, copy);
        va_end(copy);
        const time_t now = NowSeconds();
        std::lock_guard<std::mutex> lock(LogLineMutex);
        std::memcpy(LastError, line, std::strlen(line) + 1);
        LastErrorTime = now;
    }
    if (verdict.pass) {
        errno = callerErrno;
        vsyslog(priority, format, args);
    }
    va_end(args);
    errno = callerErrno;
}

void SetLogLevel(int level) {
    Level = level;
    setlogmask(LOG_UPTO(level));
}

void LimitLogTexts(const char* const* texts, size_t count) {
    std::lock_guard<std::mutex> lock(LogLineMutex);
    LimitedTexts = texts;
    LimitedTextCount = count;
    Limiter = std::make_unique<LogRateLimiter>(count);
    LimitedPriority.assign(count, LOG_INFO);
}

void FlushHeldLogLines() {
    std::vector<std::pair<size_t, uint64_t>> ended;
    std::vector<int> priorities;
    {
        std::lock_guard<std::mutex> lock(LogLineMutex);
        if (!Limiter) return;
        ended = Limiter->TakeEnded(MonotonicMicros());
        if (ended.empty()) return;
        priorities = LimitedPriority;
    }
    for (const auto& [text, count] : ended) SendText(priorities[text], HeldBackLine(LimitedTexts[text], count));
}

LoggedError LastLoggedError() {
    std::lock_guard<std::mutex> lock(LogLineMutex);
    return {LastError, LastErrorTime};
}
