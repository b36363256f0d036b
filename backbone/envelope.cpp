#include "backbone/envelope.h"

#include <google/protobuf/message_lite.h>

namespace {

constexpr uint32_t kWireTypeLengthDelimited = 2;
constexpr uint8_t kMoreBytes = 0x80;
// In a fifth byte only the low four bits still belong to a 32-bit value.
constexpr uint8_t kFifthByteOverflow = 0xF0;

int WriteVarint(uint32_t value, uint8_t* buf) {
    int n = 0;
    while (value >= kMoreBytes) {
        buf[n++] = static_cast<uint8_t>(value | kMoreBytes);
        value >>= 7;
    }
    buf[n++] = static_cast<uint8_t>(value);
    return n;
}

// The length of the varint at buf; 0 when the bytes end before it does;
// -1 when no further byte could make it a valid 32-bit varint.
int VarintExtent(const uint8_t* buf, int32_t avail) {
    for (int i = 0; i < kMaxVarintBytes; ++i) {
        if (i >= avail) return 0;
        if (i == kMaxVarintBytes - 1 && (buf[i] & kFifthByteOverflow) != 0) return -1;
        if ((buf[i] & kMoreBytes) == 0) return i + 1;
    }
    return -1;
}

}  // namespace

int AddFieldNum(int32_t number, uint8_t* buf) {
    return WriteVarint((static_cast<uint32_t>(number) << 3) | kWireTypeLengthDelimited, buf);
}

int WriteUInt32Variant(uint32_t value, uint8_t* buf, int32_t room) {
    if (room < kMaxVarintBytes) return 0;
    return WriteVarint(value, buf);
}

int TryReadUInt32Variant(const uint8_t* buf, uint32_t* value, int32_t avail) {
    *value = 0;
    if (avail <= 0) return 0;
    uint32_t result = 0;
    for (int i = 0; i < kMaxVarintBytes; ++i) {
        if (i >= avail) return -1;
        const uint8_t byte = buf[i];
        if (i == kMaxVarintBytes - 1 && (byte & kFifthByteOverflow) != 0) return -1;
        result |= static_cast<uint32_t>(byte & 0x7F) << (7 * i);
        if ((byte & kMoreBytes) == 0) {
            *value = result;
            return i + 1;
        }
    }
    return -1;
}

int GetFieldNumAndLen(const uint8_t* buf, uint32_t* number, uint32_t* length, int32_t avail) {
    uint32_t key = 0;
    const int keyLength = TryReadUInt32Variant(buf, &key, avail);
    if (keyLength <= 0) return keyLength;
    *number = key >> 3;
    if ((key & 7) != kWireTypeLengthDelimited) return -1;
    *length = 0;
    const int lengthLength = TryReadUInt32Variant(buf + keyLength, length, avail - keyLength);
    if (lengthLength <= 0) return lengthLength;
    return keyLength + lengthLength;
}

HeaderState ReadEnvelopeHeader(const uint8_t* buf, int32_t avail, uint32_t* number, uint32_t* length,
                               int* headerLength) {
    // GetFieldNumAndLen answers -1 both for a varint cut by the end of the
    // bytes and for one that is wrong whatever follows; a stream must tell
    // them apart.
    const int keyLength = VarintExtent(buf, avail);
    if (keyLength <= 0) return keyLength == 0 ? HeaderState::kIncomplete : HeaderState::kInvalid;
    uint32_t key = 0;
    TryReadUInt32Variant(buf, &key, keyLength);
    if ((key & 7) != kWireTypeLengthDelimited) return HeaderState::kInvalid;
    const int lengthLength = VarintExtent(buf + keyLength, avail - keyLength);
    if (lengthLength <= 0) return lengthLength == 0 ? HeaderState::kIncomplete : HeaderState::kInvalid;
    const int result = GetFieldNumAndLen(buf, number, length, avail);
    *headerLength = result;
    return HeaderState::kComplete;
}

bool AppendEnvelope(uint32_t number, const google::protobuf::MessageLite& msg, std::string* out) {
    const size_t size = msg.ByteSizeLong();
    if (size > UINT32_MAX) return false;
    uint8_t header[kMaxEnvelopeHeaderBytes];
    int headerLength = AddFieldNum(static_cast<int32_t>(number), header);
    headerLength += WriteUInt32Variant(static_cast<uint32_t>(size), header + headerLength, kMaxVarintBytes);
    const size_t start = out->size();
    out->append(reinterpret_cast<const char*>(header), headerLength);
    if (!msg.AppendToString(out)) {
        out->resize(start);
        return false;
    }
    return true;
}
