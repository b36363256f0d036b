#include "syslog_sink.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <ctime>

#include "sys_error.h"

namespace {

// What a system logger assumes for a message without a priority: user.notice.
constexpr int kDefaultPriority = 13;
constexpr size_t kTimestampLength = 15;  // "Mmm dd hh:mm:ss"
constexpr size_t kMaxDatagram = 65536;
constexpr int kMaxDrainPerWait = 1000;

double MonotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Consumes "<digits>" at the front of text.
bool TakePriority(std::string_view* text, int* priority) {
    size_t close = text->find('>');
    if (text->empty() || (*text)[0] != '<' || close == std::string_view::npos || close < 2 || close > 4) {
        return false;
    }
    int value = 0;
    for (size_t i = 1; i < close; ++i) {
        if (!IsDigit((*text)[i])) return false;
        value = value * 10 + ((*text)[i] - '0');
    }
    *priority = value;
    text->remove_prefix(close + 1);
    return true;
}

// "Mmm dd hh:mm:ss " where the day may be space-padded.
bool StartsWithTimestamp(std::string_view text) {
    static const char kShape[] = "aaa _d dd:dd:dd ";
    if (text.size() < sizeof(kShape) - 1) return false;
    for (size_t i = 0; i + 1 < sizeof(kShape); ++i) {
        char c = text[i];
        bool fits = false;
        switch (kShape[i]) {
            case 'a': fits = std::isalpha(static_cast<unsigned char>(c)) != 0; break;
            case 'd': fits = IsDigit(c); break;
            case '_': fits = c == ' ' || IsDigit(c); break;
            default: fits = c == kShape[i]; break;
        }
        if (!fits) return false;
    }
    return true;
}

std::string EscapeNewlines(std::string_view text) {
    while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

SyslogMessage ParseSyslogDatagram(std::string_view datagram) {
    SyslogMessage message;
    std::string_view text = datagram;
    if (!TakePriority(&text, &message.priority)) {
        message.priority = kDefaultPriority;
        text = datagram;
    } else if (StartsWithTimestamp(text)) {
        text.remove_prefix(kTimestampLength + 1);
    }
    message.text = EscapeNewlines(text);
    return message;
}

std::string FormatSyslogLine(double monotonicSeconds, const SyslogMessage& message) {
    char head[64];
    std::snprintf(head, sizeof(head), "%.6f %d ", monotonicSeconds, message.priority);
    return head + message.text;
}

const char* SyslogLevelName(int priority) {
    static const char* const kNames[] = {"emerg", "alert", "crit", "err", "warning", "notice", "info", "debug"};
    return kNames[priority & 7];
}

SyslogSink::SyslogSink(const std::string& logPath, bool echo) : echo_(echo) {
    log_ = std::fopen(logPath.c_str(), "we");
    if (!log_) ThrowErrno("cannot create " + logPath);
}

SyslogSink::~SyslogSink() {
    if (fd_ >= 0) close(fd_);
    if (log_) std::fclose(log_);
}

void SyslogSink::Bind(const char* socketPath) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) ThrowErrno("cannot create the syslog socket");
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath, sizeof(addr.sun_path) - 1);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        ThrowErrno(std::string("cannot bind the syslog socket at ") + socketPath);
    }
    // Whoever the daemon runs as must be able to log, as with a real logger.
    if (chmod(socketPath, 0666) != 0) ThrowErrno(std::string("cannot chmod ") + socketPath);
}

int SyslogSink::Drain(int maxMessages) {
    buffer_.resize(kMaxDatagram);
    int count = 0;
    while (fd_ >= 0 && count < maxMessages) {
        ssize_t n = recv(fd_, buffer_.data(), buffer_.size(), 0);
        if (n < 0) break;
        Record(std::string_view(buffer_.data(), static_cast<size_t>(n)));
        ++count;
    }
    return count;
}

void SyslogSink::DrainFor(int millis) {
    double end = MonotonicSeconds() + millis / 1000.0;
    for (double now = MonotonicSeconds(); now < end && fd_ >= 0; now = MonotonicSeconds()) {
        pollfd pfd{fd_, POLLIN, 0};
        poll(&pfd, 1, static_cast<int>((end - now) * 1000) + 1);
        Drain(kMaxDrainPerWait);
    }
}

void SyslogSink::Record(std::string_view datagram) {
    SyslogMessage message = ParseSyslogDatagram(datagram);
    std::string line = FormatSyslogLine(MonotonicSeconds(), message);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), log_);
    std::fflush(log_);
    if (echo_) {
        std::string shown = std::string("[syslog] ") + SyslogLevelName(message.priority) + " " + message.text + "\n";
        std::fwrite(shown.data(), 1, shown.size(), stdout);
        std::fflush(stdout);
    }
}
