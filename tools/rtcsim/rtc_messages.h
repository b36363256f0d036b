// The messages the simulated RTC sends, built from plain settings and from
// "field=value" words, so that an integrator can send any of them by hand.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace google::protobuf {
class Message;
}

uint64_t NowMs();

// The RTC's idea of the time: a fixed instant, or the current time moved by
// an offset (which lets a test pretend the reader's clock is wrong).
struct ClockSetting {
    bool fromNow = true;
    int64_t ms = 0;  // the instant, or the offset from now
    uint64_t At(uint64_t nowMs) const;
};
// "now", "now+MS", "now-MS" or milliseconds since the epoch.
bool ParseClockSetting(const std::string& text, ClockSetting* out);

using ProtocolVersion = std::array<uint32_t, 3>;
// "A.B.C".
bool ParseProtocolVersion(const std::string& text, ProtocolVersion* out);

// What the pairing acknowledgement says.
struct PairingAnswer {
    std::optional<uint32_t> keepAliveSeconds = 5;
    std::optional<ProtocolVersion> protocolVersion;  // absent: the reader acknowledges our messages
    ClockSetting clock;
};

std::string PairingAckEnvelope(const PairingAnswer& answer, uint64_t nowMs);
std::string ClockSyncEnvelope(uint64_t rtcMs);
std::string DiscoveryDatagram(const std::string& ip, std::optional<uint32_t> tcpPort);

// Sets message_header (index, send time) when the message has one.
void StampHeader(google::protobuf::Message* msg, uint64_t index, uint64_t nowMs);

// Sets the fields named in "name=value" words: numbers, floats, true/false,
// enumerators by name or number, text; repeated fields take a comma list;
// "a.b=value" reaches into a sub-message. Returns an error text, empty when
// every word applied.
std::string SetFields(google::protobuf::Message* msg, const std::vector<std::string>& words);
