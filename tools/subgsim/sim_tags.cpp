#include "tools/subgsim/sim_tags.h"

#include <algorithm>
#include <cstdint>

#include "subg/frame.h"
#include "subg/opcodes.h"

namespace {

// Header bytes counted by the packet length: all but the length itself.
constexpr size_t kCountedHeaderBytes = 9;
// Radio byte, ten header bytes and the trailing RSSI byte.
constexpr size_t kEnvelopeBytes = 12;
constexpr uint8_t kDiagV1 = 1;
constexpr uint8_t kDiagV2 = 2;
constexpr uint8_t kFirmwareNumberBits = 0x7f;
constexpr uint8_t kAppId1Bit = 0x80;
constexpr size_t kMaxRawBytes = UINT8_MAX;

void PutU16(std::vector<uint8_t>* out, uint16_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>* out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

// Type byte, structure version and bytes 1-11, alike in both layouts.
TagSubMessage DiagnosticsStart(const TagDiagnostics& d, uint8_t version) {
    TagSubMessage sub = {TagSubType::Diagnostics, version,          d.firmwareLoads, d.recoveryResets,
                         d.lastResetCause,        d.outOfRangeRx,   d.outOfRangeInRam, d.successRate,
                         d.lfNoiseLevel};
    PutU16(&sub, d.batteryStatus);
    sub.push_back(d.rssi);
    sub.push_back(static_cast<uint8_t>(d.temperature));
    return sub;
}

bool ProducesRecord(uint8_t type) {
    return type == TagSubType::Activity || type == TagSubType::Unforwarded || type == TagSubType::StandUp ||
           type == TagSubType::Diagnostics || type == TagSubType::Parameters;
}

}  // namespace

TagSubMessage ActivitySubMessage(const ActivityReport& report) {
    TagSubMessage sub = {report.type, report.msgId};
    PutU16(&sub, report.steps);
    PutU16(&sub, report.standingTime);
    sub.push_back(report.lyingNum);
    sub.push_back(report.lyingTime);
    sub.push_back(report.flags);
    return sub;
}

TagSubMessage DiagnosticsV1SubMessage(const TagDiagnostics& d) {
    TagSubMessage sub = DiagnosticsStart(d, kDiagV1);
    uint8_t firmware = static_cast<uint8_t>((d.fwBugFix & kFirmwareNumberBits) | (d.appId1 ? kAppId1Bit : 0));
    sub.insert(sub.end(), {firmware, d.bitMask, d.extraFlags, 0, d.crc});
    return sub;
}

TagSubMessage DiagnosticsV2SubMessage(const TagDiagnostics& d) {
    TagSubMessage sub = DiagnosticsStart(d, kDiagV2);
    uint8_t appId = d.appId1 ? kAppId1Bit : 0;
    sub.insert(sub.end(), {d.fwMajor, d.fwMinor, d.fwBugFix, appId, d.bitMask, d.extraFlags, 0, d.crc});
    return sub;
}

TagSubMessage ParametersSubMessage(const TagParameters& p) {
    TagSubMessage sub = {TagSubType::Parameters};
    PutU16(&sub, p.steadyStateInterval);
    sub.push_back(p.steadyStateRetries);
    PutU16(&sub, p.channelDetectInterval);
    PutU16(&sub, p.noCommsTimeout);
    PutU16(&sub, p.beaconSearchDuration);
    sub.insert(sub.end(), {p.memsDeltaY, p.memsRange, p.memsLevelLow, p.memsLevelHigh});
    return sub;
}

TagSubMessage PerTestSubMessage(uint8_t rssi) { return {TagSubType::PerTest, rssi}; }

TagSubMessage MemsCalcSubMessage(const MemsCalcData& m) {
    TagSubMessage sub = {TagSubType::MemsCalc, m.minAccelExceptions};
    PutU16(&sub, m.stepRecognitionSlot);
    sub.insert(sub.end(), {m.walkToStandDelay, m.minStepsStandToWalk, m.standToWalkSlot});
    return sub;
}

TagSubMessage RawDataSubMessage(const std::vector<uint8_t>& bytes) {
    if (bytes.size() > kMaxRawBytes) return {};
    TagSubMessage sub = {TagSubType::RawData, static_cast<uint8_t>(bytes.size())};
    sub.insert(sub.end(), bytes.begin(), bytes.end());
    return sub;
}

TagSubMessage Type10SubMessage(uint8_t body) { return {TagSubType::Type10, body}; }

TagSubMessage UnknownSubMessage(uint8_t type) { return {type}; }

int RecordCount(const std::vector<TagSubMessage>& subs) {
    return static_cast<int>(std::count_if(subs.begin(), subs.end(), [](const TagSubMessage& sub) {
        return !sub.empty() && ProducesRecord(sub[0]);
    }));
}

std::vector<uint8_t> TagMessagePayload(const TagPacketHeader& header, const std::vector<TagSubMessage>& subs) {
    size_t subBytes = 0;
    for (const TagSubMessage& sub : subs) {
        if (sub.empty()) return {};
        subBytes += sub.size();
    }
    // Every sub-message takes a byte at least, so the count fits in its byte.
    if (kEnvelopeBytes + subBytes > static_cast<size_t>(kMaxFrameData)) return {};
    std::vector<uint8_t> payload = {header.radio, static_cast<uint8_t>(kCountedHeaderBytes + subBytes),
                                    header.formatId};
    PutU32(&payload, header.tagId);
    payload.push_back(header.messageId);
    payload.push_back(header.intervalLength);
    payload.push_back(header.announcedSubMessages.value_or(static_cast<uint8_t>(subs.size())));
    payload.push_back(header.delayCount);
    for (const TagSubMessage& sub : subs) payload.insert(payload.end(), sub.begin(), sub.end());
    payload.push_back(header.rssi);
    return payload;
}

std::vector<uint8_t> TagMessageWire(const std::vector<uint8_t>& payload) {
    T7734FrameReply frame = MakeReply(SubGOp::TagMessage, payload.data(), payload.size());
    std::vector<uint8_t> wire(kMaxFrameLen);
    wire.resize(ReplyToWire(frame, wire.data(), wire.size()));
    return wire;
}

std::vector<uint8_t> RoutineTagMessage(uint32_t tagId, uint8_t seq) {
    TagPacketHeader header;
    header.tagId = tagId;
    header.messageId = seq;
    ActivityReport report;
    report.msgId = seq;
    report.steps = 120;
    report.standingTime = 200;
    report.lyingNum = 1;
    report.lyingTime = 30;
    report.flags = 3;
    return TagMessagePayload(header, {ActivitySubMessage(report)});
}
