#include "tools/subgsim/sim_tags.h"

#include <cstdint>

#include "subg/frame.h"

namespace {

// The tag packet format that the host accepts.
constexpr uint8_t kFormatId = 2;
// Header bytes counted by the packet length: all but the length itself.
constexpr size_t kCountedHeaderBytes = 9;
// Radio byte, ten header bytes and the trailing RSSI byte.
constexpr size_t kEnvelopeBytes = 12;

void PutU16(std::vector<uint8_t>* out, uint16_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>* out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
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

std::vector<uint8_t> TagMessagePayload(const TagPacketHeader& header, const std::vector<TagSubMessage>& subs) {
    size_t subBytes = 0;
    for (const TagSubMessage& sub : subs) subBytes += sub.size();
    if (kEnvelopeBytes + subBytes > static_cast<size_t>(kMaxFrameData) || subs.size() > UINT8_MAX) return {};
    std::vector<uint8_t> payload = {header.radio, static_cast<uint8_t>(kCountedHeaderBytes + subBytes), kFormatId};
    PutU32(&payload, header.tagId);
    payload.push_back(header.messageId);
    payload.push_back(header.intervalLength);
    payload.push_back(static_cast<uint8_t>(subs.size()));
    payload.push_back(header.delayCount);
    for (const TagSubMessage& sub : subs) payload.insert(payload.end(), sub.begin(), sub.end());
    payload.push_back(header.rssi);
    return payload;
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
