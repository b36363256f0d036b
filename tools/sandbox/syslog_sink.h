// Stands in for the system logger: receives what the daemon sends to
// /dev/log and keeps it as one line per message, with a monotonic time.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

struct SyslogMessage {
    int priority = 0;
    std::string text;  // "IDENT[PID]: message", newlines written as "\n"
};

// Lenient: what does not look like "<PRI>Mmm dd hh:mm:ss " is kept whole.
SyslogMessage ParseSyslogDatagram(std::string_view datagram);
// "<t> <pri> <text>" with t in seconds to the microsecond, no newline.
std::string FormatSyslogLine(double monotonicSeconds, const SyslogMessage& message);
// "err", "info", ... from the severity in the priority's low three bits.
const char* SyslogLevelName(int priority);

class SyslogSink {
public:
    // Truncates logPath; with echo every message is also printed on stdout.
    SyslogSink(const std::string& logPath, bool echo);
    ~SyslogSink();
    SyslogSink(const SyslogSink&) = delete;
    SyslogSink& operator=(const SyslogSink&) = delete;

    void Bind(const char* socketPath);
    int Fd() const { return fd_; }
    // Records what is queued now, at most maxMessages; returns how many.
    int Drain(int maxMessages);
    // Keeps recording until the time has passed, for senders' last words.
    void DrainFor(int millis);

private:
    void Record(std::string_view datagram);

    int fd_ = -1;
    std::vector<char> buffer_;
    FILE* log_ = nullptr;
    bool echo_ = false;
};
