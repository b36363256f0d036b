#include "backbone/rtc_allow_list.h"

#include <algorithm>

#include "platform/net.h"

namespace {

constexpr uint32_t kMaxPort = 65535;
constexpr size_t kMaxPortDigits = 5;

// Decimal digits only: no sign, no blank, no base prefix.
bool ParsePort(const std::string& text, uint16_t* port) {
    if (text.empty() || text.size() > kMaxPortDigits) return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > kMaxPort) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

// Strict dotted quad: inet_pton takes no fewer parts, no leading zeros, no
// hexadecimal and nothing around it.
bool ParseAddress(const std::string& text, uint32_t* address) {
    in_addr parsed{};
    if (text.size() >= kIPv4TextBytes || !ParseIPv4(text.c_str(), &parsed)) return false;
    *address = parsed.s_addr;
    return true;
}

bool Expired(long long at, long long now) {
    // A clock that went back, too: the stamp says nothing any more.
    return now < at || now - at >= IgnoredRTCNotices::kQuietSeconds;
}

}  // namespace

bool RTCAllowList::Add(const std::string& entry) {
    const size_t colon = entry.find(':');
    Entry parsed{0, 0, entry};
    if (!ParseAddress(entry.substr(0, colon), &parsed.address)) return false;
    if (colon != std::string::npos && !ParsePort(entry.substr(colon + 1), &parsed.port)) return false;
    if (parsed.address == htonl(INADDR_ANY) || parsed.address == htonl(INADDR_BROADCAST)) return false;
    entries_.push_back(parsed);
    return true;
}

bool RTCAllowList::Admits(const char* source, uint16_t port) const {
    if (entries_.empty()) return true;
    uint32_t address = 0;
    if (!ParseAddress(source, &address)) return false;
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& entry) {
        return entry.address == address && (entry.port == 0 || entry.port == port);
    });
}

std::string RTCAllowList::Describe() const {
    std::string text;
    for (const Entry& entry : entries_) text += (text.empty() ? "" : ", ") + entry.text;
    return text;
}

IgnoredRTCNotices::Notice IgnoredRTCNotices::Take(const char* source, long long nowSeconds) {
    named_.erase(std::remove_if(named_.begin(), named_.end(),
                                [&](const Named& named) { return Expired(named.at, nowSeconds); }),
                 named_.end());
    const bool known = std::any_of(named_.begin(), named_.end(),
                                   [&](const Named& named) { return named.source == source; });
    if (known) return Notice::kNone;
    if (named_.size() < kNamedSources) {
        named_.push_back({source, nowSeconds});
        return Notice::kName;
    }
    if (moreSaid_ && !Expired(moreAt_, nowSeconds)) return Notice::kNone;
    moreSaid_ = true;
    moreAt_ = nowSeconds;
    return Notice::kMore;
}
