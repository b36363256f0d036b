// The commands that steer the simulated RTC, from a script or the control
// FIFO, parsed up front so that a typo stops a script at start-up.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/rtcsim/rtc_messages.h"

namespace google::protobuf {
class Message;
}

extern const char kRtcCommandHelp[];

struct RtcCommand {
    enum class Kind {
        Sleep,
        PairAck,
        KeepAlive,
        Version,
        Clock,
        Message,
        ClockSync,
        Envelope,
        Raw,
        Header,
        Pause,
        Resume,
        Close,
        Accept,
        Listen,
        Broadcast,
        BroadcastEvery,
        Announce,
        Datagram,
        AutoAck,
        Persist,
        Stats,
        Reset
    };
    // How the bytes of a command that writes to the stream go out;
    // kCutByReset: the first half, then the connection is reset.
    enum class Pacing { kWhole, kSplit, kDribble, kCutByReset };

    Kind kind = Kind::Stats;
    int line = 0;
    Pacing pacing = Pacing::kWhole;
    uint32_t paceMs = 0;
    // Milliseconds for Sleep, Pause and BroadcastEvery (Pause: 0 until
    // resumed); the envelope number for Message, Envelope and Header; 1 or
    // 0 for on/off; for Accept one of the AcceptMode values.
    uint32_t number = 0;
    uint32_t length = 0;             // Header: the declared length
    uint32_t floodCount = 0;         // a stream command sent this many times; 0: once
    std::optional<uint32_t> value;   // KeepAlive, Announce; absent for "none"
    bool announceListening = false;  // Announce: the port we listen on
    std::string bytes;               // Raw, Envelope body, Datagram
    std::string word;                // AutoAck: "pair" or "persist"; Persist: "on", "off" or "skip"
    std::vector<uint64_t> indexes;   // Persist skip: the acknowledgements withheld once each
    // Message: sent as it is, with a fresh message_header.
    std::shared_ptr<const google::protobuf::Message> message;
    ClockSetting clock;                      // Clock, ClockSync
    std::optional<ProtocolVersion> version;  // Version; absent for "none"

    bool WritesStream() const;
};

enum AcceptMode : uint32_t { kAcceptOn, kAcceptOff, kAcceptClose };

// One line. Returns an error text, empty when the line is good; *isCommand
// tells whether it held a command at all (not blank or a comment).
std::string ParseRtcCommand(const std::string& line, RtcCommand* cmd, bool* isCommand);

struct RtcScript {
    std::vector<RtcCommand> commands;
    std::string error;  // "line N: ..." for the first bad line
};
RtcScript ParseRtcScript(const std::string& text);
