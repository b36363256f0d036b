#include "tools/subgsim/sim_board.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/byte_order.h"
#include "subg/opcodes.h"
#include "tools/subgsim/sim_diagnostics.h"

namespace {

constexpr size_t kVersionRecordBytes = 33;
constexpr uint8_t kVersionRecordFormat = 7;

bool ParseVersionPart(const std::string& text, size_t* pos, uint8_t* out) {
    size_t start = *pos;
    unsigned value = 0;
    while (*pos < text.size() && *pos - start < 3 && std::isdigit(static_cast<unsigned char>(text[*pos]))) {
        value = value * 10 + static_cast<unsigned>(text[*pos] - '0');
        ++*pos;
    }
    if (*pos == start || value > 255) return false;
    *out = static_cast<uint8_t>(value);
    return true;
}

size_t DataLength(const T7734FrameRequest& request) {
    return request.length > kFrameOverhead ? static_cast<size_t>(request.length - kFrameOverhead) : 0;
}

uint16_t GetU16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

void PutFrequency(float mhz, uint8_t* out) {
    WireFrequency f = EncodeFrequency(mhz);
    const uint8_t bytes[4] = {static_cast<uint8_t>(f.mhz), static_cast<uint8_t>(f.mhz >> 8),
                              static_cast<uint8_t>(f.khz), static_cast<uint8_t>(f.khz >> 8)};
    std::memcpy(out, bytes, sizeof bytes);
}

}  // namespace

bool ParseVersion(const std::string& text, SoftwareVersion* out) {
    SoftwareVersion v;
    size_t pos = 0;
    uint8_t* parts[3] = {&v.major, &v.minor, &v.build};
    for (int i = 0; i < 3; ++i) {
        if (i > 0 && (pos >= text.size() || text[pos++] != '.')) return false;
        if (!ParseVersionPart(text, &pos, parts[i])) return false;
    }
    if (pos != text.size()) return false;
    *out = v;
    return true;
}

std::vector<uint8_t> FrameCutter::Append(const uint8_t* bytes, size_t n) {
    std::vector<uint8_t> pushedOut;
    if (n >= kCapacity) {
        pushedOut.swap(buf_);
        pushedOut.insert(pushedOut.end(), bytes, bytes + (n - kCapacity));
        buf_.assign(bytes + (n - kCapacity), bytes + n);
        return pushedOut;
    }
    size_t excess = buf_.size() + n > kCapacity ? buf_.size() + n - kCapacity : 0;
    pushedOut.assign(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(excess));
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(excess));
    buf_.insert(buf_.end(), bytes, bytes + n);
    return pushedOut;
}

FrameCutter::Cut FrameCutter::Next() {
    Cut cut;
    size_t start = 0;
    while (start < buf_.size()) {
        int len = RequestFromWire(buf_.data() + start, buf_.size() - start, &cut.frame);
        if (len == 0) break;
        if (len < 0) {
            cut.bad.push_back(buf_[start++]);
            continue;
        }
        cut.hasFrame = true;
        cut.wire.assign(buf_.begin() + static_cast<std::ptrdiff_t>(start),
                        buf_.begin() + static_cast<std::ptrdiff_t>(start) + len);
        start += static_cast<size_t>(len);
        break;
    }
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(start));
    return cut;
}

bool IsModernVersion(const SoftwareVersion& version) {
    return version.major * 10000 + version.minor * 100 + version.build > 10609;
}

const std::map<uint8_t, SimBoard::Handler>& SimBoard::Handlers() {
    static const std::map<uint8_t, Handler> table = {
        {SubGOp::ParamCheck, &SimBoard::ParamCheckReply},
        {SubGOp::SetFreq, &SimBoard::SetFrequency},
        {SubGOp::SetOutputPower, &SimBoard::SetPower},
        {SubGOp::GetDiagnostics, &SimBoard::DiagnosticsReply},
        {SubGOp::GetSWVersion, &SimBoard::SoftwareVersionReply},
        {SubGOp::TagFwBlock, &SimBoard::NoReply},
        {SubGOp::TagFwBlock001, &SimBoard::NoReply},
        {SubGOp::TagFwBlock002, &SimBoard::NoReply},
        {SubGOp::SetDiagInterval, &SimBoard::SetDiagInterval},
        {SubGOp::GetFreq, &SimBoard::FrequencyReply},
        {SubGOp::SetRegionAndTable, &SimBoard::SetRegionAndTable},
        {SubGOp::SetWorkingChannel, &SimBoard::SetWorkingChannel},
        {SubGOp::SetSteadyStateInterval, &SimBoard::SetSteadyState},
        {SubGOp::LedWord, &SimBoard::LedWordReply},
        {SubGOp::GetAppChecksum, &SimBoard::ChecksumReply},
        {SubGOp::GetServiceInfo, &SimBoard::ServiceInfoReply},
        {SubGOp::GetOutputPower, &SimBoard::OutputPowerReply},
        {SubGOp::GetSteadyStateInterval, &SimBoard::SteadyStateReply},
        {SubGOp::ScanRSSI, &SimBoard::StartScan},
        {SubGOp::StopScanRSSI, &SimBoard::StopScan},
    };
    return table;
}

// An opcode without a reply of its own still gets a bare frame of the same
// opcode, which is what settles the host's wait for an answer.
std::optional<T7734FrameReply> SimBoard::Answer(const T7734FrameRequest& request) {
    // Frames for the boot ROM find no listener while the application runs.
    if (request.address != kSubGAppAddress) return std::nullopt;
    auto it = Handlers().find(request.opcode);
    if (it == Handlers().end()) return MakeReply(request.opcode);
    return (this->*(it->second))(request);
}

std::optional<T7734FrameReply> SimBoard::ParamCheckReply(const T7734FrameRequest& request) {
    return MakeReply(request.opcode, &state_.paramCheck, 1);
}

// A request too short for what it sets, or for a radio the board does not
// have, changes nothing and gets the bare reply.
std::optional<T7734FrameReply> SimBoard::SetFrequency(const T7734FrameRequest& request) {
    const uint8_t* d = request.data;
    if (DataLength(request) < 5 || d[0] > 1) return MakeReply(request.opcode);
    state_.freq[d[0]] = DecodeFrequency(GetU16(d + 1), GetU16(d + 3));
    // 0xFF in front: no signal strength was measured.
    uint8_t data[7] = {0xFF, d[0], 0};
    PutFrequency(state_.freq[d[0]], data + 3);
    return MakeReply(request.opcode, data, sizeof data);
}

std::optional<T7734FrameReply> SimBoard::SetPower(const T7734FrameRequest& request) {
    if (DataLength(request) >= 2 && request.data[0] <= 1) state_.power[request.data[0]] = request.data[1];
    return MakeReply(request.opcode);
}

std::optional<T7734FrameReply> SimBoard::DiagnosticsReply(const T7734FrameRequest&) { return Diagnostics(); }

T7734FrameReply SimBoard::Diagnostics() const {
    const std::vector<uint8_t> payload = DiagnosticsPayload(version_, state_);
    return MakeReply(SubGOp::GetDiagnostics, payload.data(), payload.size());
}

// Data: the radios (0, 1 or 2 for both), passes, from the first channel.
// The readings follow the bare reply.
std::optional<T7734FrameReply> SimBoard::StartScan(const T7734FrameRequest& request) {
    if (DataLength(request) >= 1) survey_.Start(state_.table, request.data[0]);
    return MakeReply(request.opcode);
}

std::optional<T7734FrameReply> SimBoard::StopScan(const T7734FrameRequest& request) {
    survey_.Stop();
    return MakeReply(request.opcode);
}

std::optional<T7734FrameReply> SimBoard::SoftwareVersionReply(const T7734FrameRequest& request) {
    const uint8_t data[3] = {version_.major, version_.minor, version_.build};
    return MakeReply(request.opcode, data, sizeof data);
}

std::optional<T7734FrameReply> SimBoard::NoReply(const T7734FrameRequest&) { return std::nullopt; }

std::optional<T7734FrameReply> SimBoard::SetDiagInterval(const T7734FrameRequest& request) {
    if (DataLength(request) >= 1) state_.diagMinutes = request.data[0];
    return MakeReply(request.opcode);
}

std::optional<T7734FrameReply> SimBoard::FrequencyReply(const T7734FrameRequest& request) {
    if (DataLength(request) < 1 || request.data[0] > 1) return MakeReply(request.opcode);
    uint8_t data[5] = {request.data[0]};
    PutFrequency(state_.freq[request.data[0]], data + 1);
    return MakeReply(request.opcode, data, sizeof data);
}

// The long form carries a table; the short one only the region, for which
// older software knows the table itself.
std::optional<T7734FrameReply> SimBoard::SetRegionAndTable(const T7734FrameRequest& request) {
    const uint8_t* d = request.data;
    size_t n = DataLength(request);
    if (n == 1) {
        state_.region = d[0];
        if (!IsModernVersion(version_)) state_.table = BuiltInChannelTable(d[0]);
    } else if (n >= 2 && n == 2 + 4 * size_t{d[1]}) {
        state_.region = d[0];
        state_.table.clear();
        for (size_t i = 0; i < d[1]; ++i) {
            state_.table.push_back(DecodeFrequency(GetU16(d + 2 + 4 * i), GetU16(d + 4 + 4 * i)));
        }
    }
    return MakeReply(request.opcode);
}

std::optional<T7734FrameReply> SimBoard::SetWorkingChannel(const T7734FrameRequest& request) {
    if (DataLength(request) < 1) return MakeReply(request.opcode);
    state_.channel = request.data[0];
    if (state_.channel < state_.table.size()) state_.freq[0] = state_.freq[1] = state_.table[state_.channel];
    return MakeReply(request.opcode);
}

std::optional<T7734FrameReply> SimBoard::SetSteadyState(const T7734FrameRequest& request) {
    const uint8_t* d = request.data;
    if (DataLength(request) == 4) state_.steadySeconds = GetU16(d) | (uint32_t{GetU16(d + 2)} << 16);
    if (DataLength(request) == 2) state_.steadySeconds = GetU16(d);
    return MakeReply(request.opcode);
}

std::optional<T7734FrameReply> SimBoard::LedWordReply(const T7734FrameRequest& request) {
    if (DataLength(request) < 1) return MakeReply(request.opcode);
    state_.ledWord = request.data[0];
    return MakeReply(request.opcode, &state_.ledWord, 1);
}

std::optional<T7734FrameReply> SimBoard::ChecksumReply(const T7734FrameRequest& request) {
    const uint8_t noChecksum = 0xFF;
    return MakeReply(request.opcode, &noChecksum, 1);
}

// Older software does not know the opcode and says nothing.
std::optional<T7734FrameReply> SimBoard::ServiceInfoReply(const T7734FrameRequest& request) {
    if (!IsModernVersion(version_)) return std::nullopt;
    uint8_t record[kVersionRecordBytes] = {};
    record[0] = kVersionRecordFormat;
    record[18] = version_.fourth;
    record[19] = version_.build;
    record[20] = version_.minor;
    record[21] = version_.major;
    PutLE32(record + 24, bootLoaderVersion_);
    record[31] = 1;  // boot ROM 1.0.0.0
    return MakeReply(request.opcode, record, sizeof record);
}

void SimBoard::RunApplication(uint32_t version) {
    version_ = {static_cast<uint8_t>(version >> 24), static_cast<uint8_t>(version >> 16),
                static_cast<uint8_t>(version >> 8), static_cast<uint8_t>(version)};
}

std::optional<T7734FrameReply> SimBoard::OutputPowerReply(const T7734FrameRequest& request) {
    return MakeReply(request.opcode, &state_.power[0], 1);
}

std::optional<T7734FrameReply> SimBoard::SteadyStateReply(const T7734FrameRequest& request) {
    const uint8_t data[2] = {static_cast<uint8_t>(state_.steadySeconds),
                             static_cast<uint8_t>(state_.steadySeconds >> 8)};
    return MakeReply(request.opcode, data, sizeof data);
}
