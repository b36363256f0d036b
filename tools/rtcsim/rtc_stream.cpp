#include "tools/rtcsim/rtc_stream.h"

#include <google/protobuf/message_lite.h>

#include <algorithm>

#include "tools/subgsim/sim_events.h"

namespace {

std::string HexOf(const std::string& bytes, size_t max) {
    size_t n = std::min(bytes.size(), max);
    return HexBytes(reinterpret_cast<const uint8_t*>(bytes.data()), n) + (bytes.size() > max ? " .." : "");
}

}  // namespace

EnvelopeCutter::Cut EnvelopeCutter::Next() {
    Cut cut;
    uint32_t number = 0;
    uint32_t length = 0;
    int headerLength = 0;
    auto avail = static_cast<int32_t>(std::min<size_t>(pending_.size(), kMaxEnvelopeHeaderBytes));
    HeaderState state =
        ReadEnvelopeHeader(reinterpret_cast<const uint8_t*>(pending_.data()), avail, &number, &length, &headerLength);
    if (state == HeaderState::kIncomplete) return cut;
    if (state == HeaderState::kInvalid || length > kMaxEnvelopeBody) {
        cut.kind = Cut::Kind::kInvalid;
        cut.error = state == HeaderState::kInvalid
                        ? "invalid header " + HexOf(pending_, kMaxEnvelopeHeaderBytes)
                        : "envelope " + std::to_string(number) + " declares " + std::to_string(length) + " bytes";
        pending_.clear();
        return cut;
    }
    if (pending_.size() < static_cast<size_t>(headerLength) + length) return cut;
    cut.kind = Cut::Kind::kEnvelope;
    cut.number = number;
    cut.body = pending_.substr(static_cast<size_t>(headerLength), length);
    pending_.erase(0, static_cast<size_t>(headerLength) + length);
    return cut;
}

std::string Frame(uint32_t number, const google::protobuf::MessageLite& msg) {
    std::string out;
    return AppendEnvelope(number, msg, &out) ? out : std::string();
}

std::string HeaderOnly(uint32_t number, uint32_t length) {
    uint8_t header[kMaxEnvelopeHeaderBytes];
    int n = AddFieldNum(static_cast<int32_t>(number), header);
    n += WriteUInt32Variant(length, header + n, kMaxVarintBytes);
    return std::string(reinterpret_cast<const char*>(header), static_cast<size_t>(n));
}
