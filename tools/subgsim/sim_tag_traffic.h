// Tag traffic by name: the sub-message kinds that commands list, the
// messages made of them, the steady stream of many tags, and malformed
// messages for testing the host's recovery. Pure, no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/subgsim/sim_tags.h"

enum class SubMsgKind {
    Activity,     // type 1, the standard activity report
    Unforwarded,  // type 3, an activity report the host dates but neither forwards nor logs
    StandUp,      // type 15, the just-stood-up report
    Diag1,        // type 2, diagnostics in the older 17-byte layout
    Diag2,        // type 2, diagnostics in the current 20-byte layout
    Params,       // type 11, the tag's parameters
    Per,          // type 7, a PER test sample
    Mems,         // type 63, MEMS calculation data
    Raw,          // type 254, raw data
    Type10,       // type 10 with its one skipped byte
    Unknown,      // type 5, which the host does not know
};

enum class MalformedKind {
    Format1,   // format identifier 1 instead of 2
    Diag3,     // an activity report, then diagnostics with version byte 3
    Short,     // announces three sub-messages, but the bytes end after the first
    Cut,       // an activity report, then a parameters report cut short
    Checksum,  // a good message with a wrong frame checksum
    Length4,   // a good message whose frame length byte is 4
};

std::optional<SubMsgKind> SubMsgKindByName(const std::string& name);
std::optional<MalformedKind> MalformedKindByName(const std::string& name);
const char* MalformedKindName(MalformedKind kind);
// The names, comma-separated, for usage and error texts.
std::string SubMsgKindNames();
std::string MalformedKindNames();

// The kind's sub-message with a plausible body; msgId numbers the
// activity-type reports.
TagSubMessage DefaultSubMessage(SubMsgKind kind, uint8_t msgId);

// One tag message ready for the line.
struct TagTraffic {
    std::vector<uint8_t> wire;  // the whole frame; empty when it does not fit in one
    // The records a sound host delivers from it: those of a well-formed
    // message, and those read before a message runs out of bytes.
    int records = 0;
};

// A message with one sub-message of each kind in the list, in order, as
// heard on radio 0 from a tag that reports every five minutes. Its
// activity-type reports count up to seq, the message's own number.
TagTraffic KindsTagMessage(uint32_t tagId, uint8_t seq, uint8_t delayCount, const std::vector<SubMsgKind>& kinds);

// Message number index of the steady stream: the tags firstTagId and the
// next kStreamTags - 1 take turns, each numbering its own messages, and
// each message carries one activity report.
constexpr uint32_t kStreamTags = 10;
TagTraffic StreamTagMessage(uint32_t firstTagId, uint64_t index);

TagTraffic MalformedTagMessage(MalformedKind kind, uint32_t tagId, uint8_t seq);
