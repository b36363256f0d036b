// Whom the reader listens to. Discovery is an unauthenticated broadcast:
// without a list any host on the farm's network that announces itself
// becomes the reader's RTC. The list names the farm's own RTCs by IPv4
// address, each with the TCP port it must announce or with any port.
// Pure logic: the caller brings the addresses and the time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class RTCAllowList {
public:
    // "A.B.C.D" or "A.B.C.D:PORT" (PORT 1 to 65535, decimal). False, and the
    // list unchanged, for anything else, and for 0.0.0.0 and
    // 255.255.255.255, from which no datagram comes.
    bool Add(const std::string& entry);
    // Empty: every RTC is heard.
    bool Empty() const { return entries_.empty(); }
    // Whether a discovery datagram from source (dotted text) announcing
    // port comes from an RTC of the list; always true for an empty list.
    bool Admits(const char* source, uint16_t port) const;
    // The entries as given, ", " between them, for the log.
    std::string Describe() const;

private:
    struct Entry {
        uint32_t address;  // network byte order
        uint16_t port;     // 0: any
        std::string text;  // as given
    };
    std::vector<Entry> entries_;
};

// Which ignored sources to name in the log, so that a flood of broadcasts
// cannot flood syslog: each source at most once an hour, and no more than
// kNamedSources of them within an hour; beyond those, one line an hour
// says that there were more. Memory stays at kNamedSources entries.
class IgnoredRTCNotices {
public:
    static constexpr size_t kNamedSources = 32;
    static constexpr long long kQuietSeconds = 3600;

    enum class Notice {
        kNone,  // said within the hour already
        kName,  // name this source
        kMore,  // say that more sources than can be named were ignored
    };
    // nowSeconds from a clock that the wall clock's settings do not move.
    Notice Take(const char* source, long long nowSeconds);

private:
    struct Named {
        std::string source;
        long long at;
    };
    std::vector<Named> named_;
    long long moreAt_ = 0;
    bool moreSaid_ = false;
};
