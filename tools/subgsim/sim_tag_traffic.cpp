#include "tools/subgsim/sim_tag_traffic.h"

#include <cstddef>

namespace {

constexpr uint8_t kUnknownType = 5;
constexpr uint8_t kPositionStanding = 3;
constexpr uint8_t kUnitsSinceStandUp = 30;
constexpr uint8_t kPerRssi = 71;
constexpr uint8_t kType10Body = 0;
constexpr uint8_t kBadDiagVersion = 3;
constexpr uint8_t kDiagVersionAt = 1;     // within the sub-message, behind the type byte
constexpr size_t kCutParametersBody = 6;  // of its 13 bytes
constexpr uint8_t kShortAnnounced = 3;
constexpr uint8_t kBadLengthByte = 4;
constexpr uint8_t kChecksumFlip = 0xff;

const std::vector<uint8_t> kRawBytes = {0x01, 0xab, 0x10};

struct SubMsgName {
    const char* name;
    SubMsgKind kind;
};

const SubMsgName kSubMsgNames[] = {
    {"activity", SubMsgKind::Activity}, {"unforwarded", SubMsgKind::Unforwarded},
    {"standup", SubMsgKind::StandUp},   {"diag1", SubMsgKind::Diag1},
    {"diag2", SubMsgKind::Diag2},       {"params", SubMsgKind::Params},
    {"per", SubMsgKind::Per},           {"mems", SubMsgKind::Mems},
    {"raw", SubMsgKind::Raw},           {"type10", SubMsgKind::Type10},
    {"unknown", SubMsgKind::Unknown},
};

struct MalformedName {
    const char* name;
    MalformedKind kind;
};

const MalformedName kMalformedNames[] = {
    {"format1", MalformedKind::Format1}, {"diag3", MalformedKind::Diag3},
    {"short", MalformedKind::Short},     {"cut", MalformedKind::Cut},
    {"checksum", MalformedKind::Checksum}, {"length4", MalformedKind::Length4},
};

template <typename Table>
std::string JoinNames(const Table& table) {
    std::string text;
    for (const auto& entry : table) text += (text.empty() ? "" : ", ") + std::string(entry.name);
    return text;
}

bool IsActivityType(SubMsgKind kind) {
    return kind == SubMsgKind::Activity || kind == SubMsgKind::Unforwarded || kind == SubMsgKind::StandUp;
}

ActivityReport StandingReport(uint8_t type, uint8_t msgId) {
    ActivityReport report;
    report.type = type;
    report.msgId = msgId;
    report.steps = 120;
    report.standingTime = 200;
    report.lyingNum = 1;
    report.lyingTime = 30;
    report.flags = kPositionStanding;
    return report;
}

ActivityReport StandUpReport(uint8_t msgId) {
    ActivityReport report;
    report.type = TagSubType::StandUp;
    report.msgId = msgId;
    report.steps = 15;
    report.standingTime = 10;
    report.flags = kUnitsSinceStandUp;
    return report;
}

TagPacketHeader Header(uint32_t tagId, uint8_t seq, uint8_t delayCount) {
    TagPacketHeader header;
    header.tagId = tagId;
    header.messageId = seq;
    header.delayCount = delayCount;
    return header;
}

TagTraffic Traffic(const TagPacketHeader& header, const std::vector<TagSubMessage>& subs, int records) {
    std::vector<uint8_t> payload = TagMessagePayload(header, subs);
    if (payload.empty()) return {};
    return {TagMessageWire(payload), records};
}

TagTraffic WellFormed(const TagPacketHeader& header, const std::vector<TagSubMessage>& subs) {
    return Traffic(header, subs, RecordCount(subs));
}

}  // namespace

std::optional<SubMsgKind> SubMsgKindByName(const std::string& name) {
    for (const SubMsgName& entry : kSubMsgNames) {
        if (name == entry.name) return entry.kind;
    }
    return std::nullopt;
}

std::optional<MalformedKind> MalformedKindByName(const std::string& name) {
    for (const MalformedName& entry : kMalformedNames) {
        if (name == entry.name) return entry.kind;
    }
    return std::nullopt;
}

const char* MalformedKindName(MalformedKind kind) {
    for (const MalformedName& entry : kMalformedNames) {
        if (kind == entry.kind) return entry.name;
    }
    return "?";
}

std::string SubMsgKindNames() { return JoinNames(kSubMsgNames); }

std::string MalformedKindNames() { return JoinNames(kMalformedNames); }

TagSubMessage DefaultSubMessage(SubMsgKind kind, uint8_t msgId) {
    switch (kind) {
        case SubMsgKind::Activity: return ActivitySubMessage(StandingReport(TagSubType::Activity, msgId));
        case SubMsgKind::Unforwarded: return ActivitySubMessage(StandingReport(TagSubType::Unforwarded, msgId));
        case SubMsgKind::StandUp: return ActivitySubMessage(StandUpReport(msgId));
        case SubMsgKind::Diag1: return DiagnosticsV1SubMessage(TagDiagnostics{});
        case SubMsgKind::Diag2: return DiagnosticsV2SubMessage(TagDiagnostics{});
        case SubMsgKind::Params: return ParametersSubMessage(TagParameters{});
        case SubMsgKind::Per: return PerTestSubMessage(kPerRssi);
        case SubMsgKind::Mems: return MemsCalcSubMessage(MemsCalcData{});
        case SubMsgKind::Raw: return RawDataSubMessage(kRawBytes);
        case SubMsgKind::Type10: return Type10SubMessage(kType10Body);
        case SubMsgKind::Unknown: break;
    }
    return UnknownSubMessage(kUnknownType);
}

TagTraffic KindsTagMessage(uint32_t tagId, uint8_t seq, uint8_t delayCount, const std::vector<SubMsgKind>& kinds) {
    size_t activities = 0;
    for (SubMsgKind kind : kinds) activities += IsActivityType(kind) ? 1 : 0;
    // The oldest report first: it is as many intervals old as reports follow it.
    uint8_t msgId = static_cast<uint8_t>(seq - activities + 1);
    std::vector<TagSubMessage> subs;
    for (SubMsgKind kind : kinds) {
        subs.push_back(DefaultSubMessage(kind, msgId));
        if (IsActivityType(kind)) ++msgId;
    }
    return WellFormed(Header(tagId, seq, delayCount), subs);
}

TagTraffic StreamTagMessage(uint32_t firstTagId, uint64_t index) {
    uint64_t round = index / kStreamTags;
    auto seq = static_cast<uint8_t>(round);
    TagPacketHeader header = Header(firstTagId + static_cast<uint32_t>(index % kStreamTags), seq, 0);
    header.radio = static_cast<uint8_t>(round % 2);
    header.rssi = static_cast<uint8_t>(0x08 + index % 16);
    ActivityReport report;
    report.msgId = seq;
    report.steps = static_cast<uint16_t>(40 + index * 37 % 200);
    report.standingTime = static_cast<uint16_t>(100 + index * 13 % 200);
    report.lyingNum = static_cast<uint8_t>(index % 3);
    report.lyingTime = static_cast<uint8_t>(index * 7 % 60);
    report.flags = static_cast<uint8_t>(1 + index % 4);  // the four position codes in turn
    return WellFormed(header, {ActivitySubMessage(report)});
}

TagTraffic MalformedTagMessage(MalformedKind kind, uint32_t tagId, uint8_t seq) {
    TagPacketHeader header = Header(tagId, seq, 0);
    TagSubMessage activity = ActivitySubMessage(StandingReport(TagSubType::Activity, seq));
    TagTraffic traffic;
    switch (kind) {
        case MalformedKind::Format1:
            header.formatId = 1;
            return Traffic(header, {activity}, 0);
        case MalformedKind::Diag3: {
            TagSubMessage diag = DiagnosticsV2SubMessage(TagDiagnostics{});
            diag[kDiagVersionAt] = kBadDiagVersion;
            return Traffic(header, {activity, diag}, 0);
        }
        case MalformedKind::Short:
            header.announcedSubMessages = kShortAnnounced;
            return Traffic(header, {activity}, RecordCount({activity}));
        case MalformedKind::Cut: {
            TagSubMessage params = ParametersSubMessage(TagParameters{});
            params.resize(1 + kCutParametersBody);
            return Traffic(header, {activity, params}, 0);
        }
        case MalformedKind::Checksum:
            traffic = Traffic(header, {activity}, 0);
            traffic.wire.back() ^= kChecksumFlip;
            return traffic;
        case MalformedKind::Length4:
            traffic = Traffic(header, {activity}, 0);
            traffic.wire.front() = kBadLengthByte;
            return traffic;
    }
    return traffic;
}
