// Tag messages as the board forwards them to the host (opcode 0): the radio
// that heard the tag, the tag's packet header, its sub-messages and the
// signal strength the board measured. Pure byte building, no I/O.
#pragma once

#include <cstdint>
#include <vector>

struct TagPacketHeader {
    uint8_t radio = 0;
    uint32_t tagId = 0;
    uint8_t messageId = 0;       // the tag's sequence number
    uint8_t intervalLength = 1;  // in units of 300 seconds
    uint8_t delayCount = 0;
    uint8_t rssi = 0x10;         // -86 dBm once the host has converted it
};

// Types 1, 3 and 15 share this layout.
struct ActivityReport {
    uint8_t type = 1;
    uint8_t msgId = 0;
    uint16_t steps = 0;
    uint16_t standingTime = 0;
    uint8_t lyingNum = 0;
    uint8_t lyingTime = 0;
    uint8_t flags = 0;  // position code in bits 0-6, just stood up in bit 7
};

// One sub-message as it stands in the packet: its type byte, then its body.
using TagSubMessage = std::vector<uint8_t>;

TagSubMessage ActivitySubMessage(const ActivityReport& report);

// The data bytes of the opcode 0 frame; empty when the sub-messages do not
// fit in one frame.
std::vector<uint8_t> TagMessagePayload(const TagPacketHeader& header, const std::vector<TagSubMessage>& subs);

// The simulator's routine message: one activity report of a standing animal,
// numbered seq both in the header and in the report.
std::vector<uint8_t> RoutineTagMessage(uint32_t tagId, uint8_t seq);
