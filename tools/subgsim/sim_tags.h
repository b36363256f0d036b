// Tag messages as the board forwards them to the host (opcode 0): the radio
// that heard the tag, the tag's packet header, its sub-messages and the
// signal strength the board measured. Pure byte building, no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

constexpr uint8_t kTagFormatCurrent = 2;

struct TagPacketHeader {
    uint8_t radio = 0;
    uint32_t tagId = 0;
    uint8_t messageId = 0;       // the tag's sequence number
    uint8_t intervalLength = 1;  // in units of 300 seconds
    uint8_t delayCount = 0;
    uint8_t rssi = 0x10;         // -86 dBm once the host has converted it
    uint8_t formatId = kTagFormatCurrent;
    // Announced instead of the true number of sub-messages when set.
    std::optional<uint8_t> announcedSubMessages;
};

// Sub-message type bytes.
namespace TagSubType {
constexpr uint8_t Activity = 1;
constexpr uint8_t Diagnostics = 2;
constexpr uint8_t Unforwarded = 3;  // an activity report the host dates but keeps to itself
constexpr uint8_t PerTest = 7;
constexpr uint8_t Type10 = 10;
constexpr uint8_t Parameters = 11;
constexpr uint8_t StandUp = 15;
constexpr uint8_t MemsCalc = 63;
constexpr uint8_t RawData = 254;
}  // namespace TagSubType

// Types 1, 3 and 15 share this layout.
struct ActivityReport {
    uint8_t type = TagSubType::Activity;
    uint8_t msgId = 0;
    uint16_t steps = 0;
    uint16_t standingTime = 0;
    uint8_t lyingNum = 0;
    uint8_t lyingTime = 0;
    // Types 1 and 3: position code in bits 0-6, just stood up in bit 7.
    // Type 15: the time since the animal stood up.
    uint8_t flags = 0;
};

// The fields of both diagnostics layouts. The older one has room for a
// single firmware number, the bug-fix one, and carries the application
// flag in its top bit.
struct TagDiagnostics {
    uint8_t firmwareLoads = 2;
    uint8_t recoveryResets = 1;
    uint8_t lastResetCause = 0x04;
    uint8_t outOfRangeRx = 0;
    uint8_t outOfRangeInRam = 0;
    uint8_t successRate = 97;
    uint8_t lfNoiseLevel = 12;
    uint16_t batteryStatus = 3012;
    uint8_t rssi = 78;  // positive; the value in dBm is its negative
    int8_t temperature = -5;
    uint8_t fwMajor = 3;
    uint8_t fwMinor = 2;
    uint8_t fwBugFix = 7;
    bool appId1 = true;
    uint8_t bitMask = 0x05;
    uint8_t extraFlags = 0x01;
    uint8_t crc = 0x5a;
};

struct TagParameters {
    uint16_t steadyStateInterval = 300;
    uint8_t steadyStateRetries = 3;
    uint16_t channelDetectInterval = 60;
    uint16_t noCommsTimeout = 3600;
    uint16_t beaconSearchDuration = 120;
    uint8_t memsDeltaY = 10;
    uint8_t memsRange = 2;
    uint8_t memsLevelLow = 20;
    uint8_t memsLevelHigh = 200;
};

struct MemsCalcData {
    uint8_t minAccelExceptions = 3;
    uint16_t stepRecognitionSlot = 500;
    uint8_t walkToStandDelay = 4;
    uint8_t minStepsStandToWalk = 5;
    uint8_t standToWalkSlot = 6;
};

// One sub-message as it stands in the packet: its type byte, then its body.
using TagSubMessage = std::vector<uint8_t>;

TagSubMessage ActivitySubMessage(const ActivityReport& report);
TagSubMessage DiagnosticsV1SubMessage(const TagDiagnostics& diag);  // 17-byte body
TagSubMessage DiagnosticsV2SubMessage(const TagDiagnostics& diag);  // 20-byte body
TagSubMessage ParametersSubMessage(const TagParameters& params);
TagSubMessage PerTestSubMessage(uint8_t rssi);
TagSubMessage MemsCalcSubMessage(const MemsCalcData& data);
// Empty when there are more than 255 bytes.
TagSubMessage RawDataSubMessage(const std::vector<uint8_t>& bytes);
TagSubMessage Type10SubMessage(uint8_t body);
// A type the host does not know: the type byte alone.
TagSubMessage UnknownSubMessage(uint8_t type);

// The number of records the host makes of these sub-messages: one for each
// activity-type report, diagnostics and parameters report.
int RecordCount(const std::vector<TagSubMessage>& subs);

// The data bytes of the opcode 0 frame; empty when the sub-messages do not
// fit in one frame.
std::vector<uint8_t> TagMessagePayload(const TagPacketHeader& header, const std::vector<TagSubMessage>& subs);

// The whole reply frame on the wire, checksum included.
std::vector<uint8_t> TagMessageWire(const std::vector<uint8_t>& payload);

// The simulator's routine message: one activity report of a standing animal,
// numbered seq both in the header and in the report.
std::vector<uint8_t> RoutineTagMessage(uint32_t tagId, uint8_t seq);
