#include "subg/frame.h"

#include <cstring>

namespace {

uint8_t XorBytes(const uint8_t* p, size_t n, uint8_t acc) {
    for (size_t i = 0; i < n; ++i) acc ^= p[i];
    return acc;
}

size_t DataLen(uint8_t length) {
    return length >= kFrameOverhead ? static_cast<size_t>(length - kFrameOverhead) : 0;
}

// Both frame kinds share one shape: four header bytes, data, checksum.
size_t ToWire(const uint8_t header[4], const uint8_t* data, uint8_t checksum, uint8_t length,
              uint8_t* out, size_t room) {
    if (length < kFrameOverhead || room < length) return 0;
    std::memcpy(out, header, 4);
    std::memcpy(out + 4, data, DataLen(length));
    out[length - 1] = checksum;
    return length;
}

int FromWire(const uint8_t* bytes, size_t n, size_t lengthPos, bool checked, uint8_t header[4], uint8_t* data,
             uint8_t* checksum) {
    if (n <= lengthPos) return 0;
    uint8_t length = bytes[lengthPos];
    if (length < kFrameOverhead) return -1;
    if (n < length) return 0;
    if (checked && WireChecksum(bytes, length) != bytes[length - 1]) return -1;
    std::memcpy(header, bytes, 4);
    std::memcpy(data, bytes + 4, DataLen(length));
    *checksum = bytes[length - 1];
    return length;
}

// The opcode in the low byte, the three extension bytes above it.
uint32_t KeyOf(uint8_t opcode, const uint8_t ext[3]) {
    return opcode | (uint32_t{ext[0]} << 8) | (uint32_t{ext[1]} << 16) | (uint32_t{ext[2]} << 24);
}

}  // namespace

uint8_t CalcCSReq(const T7734FrameRequest& frame) {
    const uint8_t header[4] = {frame.address, frame.length, frame.hostByte, frame.opcode};
    return XorBytes(frame.data, DataLen(frame.length), XorBytes(header, 4, 0));
}

uint8_t CalcCSRep(const T7734FrameReply& frame) {
    const uint8_t header[4] = {frame.length, frame.byte1, frame.byte2, frame.opcode};
    return XorBytes(frame.data, DataLen(frame.length), XorBytes(header, 4, 0));
}

uint8_t WireChecksum(const uint8_t* bytes, size_t length) {
    return length > 0 ? XorBytes(bytes, length - 1, 0) : 0;
}

int ReplyDataLen(const T7734FrameReply& reply) { return static_cast<int>(DataLen(reply.length)); }

uint32_t OpcodeKey(const T7734FrameRequest& frame) { return KeyOf(frame.opcode, frame.opcodeExt); }

uint32_t OpcodeKey(const T7734FrameReply& frame) { return KeyOf(frame.opcode, frame.opcodeExt); }

T7734FrameRequest MakeRequest(uint8_t opcode, const uint8_t* data, size_t dataLen, uint8_t address) {
    T7734FrameRequest frame{};
    if (dataLen > static_cast<size_t>(kMaxFrameData)) dataLen = kMaxFrameData;
    frame.address = address;
    frame.length = static_cast<uint8_t>(kFrameOverhead + dataLen);
    frame.hostByte = kHostByte;
    frame.opcode = opcode;
    if (dataLen > 0) std::memcpy(frame.data, data, dataLen);
    frame.checksum = CalcCSReq(frame);
    return frame;
}

T7734FrameReply MakeReply(uint8_t opcode, const uint8_t* data, size_t dataLen) {
    T7734FrameReply frame{};
    if (dataLen > static_cast<size_t>(kMaxFrameData)) dataLen = kMaxFrameData;
    frame.length = static_cast<uint8_t>(kFrameOverhead + dataLen);
    frame.byte1 = kSubGAppAddress;
    frame.byte2 = kHostByte;
    frame.opcode = opcode;
    if (dataLen > 0) std::memcpy(frame.data, data, dataLen);
    frame.checksum = CalcCSRep(frame);
    return frame;
}

size_t RequestToWire(const T7734FrameRequest& frame, uint8_t* out, size_t room) {
    const uint8_t header[4] = {frame.address, frame.length, frame.hostByte, frame.opcode};
    return ToWire(header, frame.data, frame.checksum, frame.length, out, room);
}

size_t ReplyToWire(const T7734FrameReply& frame, uint8_t* out, size_t room) {
    const uint8_t header[4] = {frame.length, frame.byte1, frame.byte2, frame.opcode};
    return ToWire(header, frame.data, frame.checksum, frame.length, out, room);
}

int RequestFromWire(const uint8_t* bytes, size_t n, T7734FrameRequest* out) {
    T7734FrameRequest frame{};
    uint8_t header[4];
    int len = FromWire(bytes, n, 1, true, header, frame.data, &frame.checksum);
    if (len <= 0) return len;
    frame.address = header[0];
    frame.length = header[1];
    frame.hostByte = header[2];
    frame.opcode = header[3];
    *out = frame;
    return len;
}

int ReplyFromWire(const uint8_t* bytes, size_t n, T7734FrameReply* out, ReplyChecksum checksum) {
    T7734FrameReply frame{};
    uint8_t header[4];
    int len = FromWire(bytes, n, 0, checksum == ReplyChecksum::kChecked, header, frame.data, &frame.checksum);
    if (len <= 0) return len;
    frame.length = header[0];
    frame.byte1 = header[1];
    frame.byte2 = header[2];
    frame.opcode = header[3];
    *out = frame;
    return len;
}

bool WholeReplyFrames(const uint8_t* bytes, size_t n, int opcode) {
    if (n == 0) return false;
    for (size_t at = 0; at < n;) {
        const size_t length = bytes[at];
        if (length < kFrameOverhead || length > n - at) return false;
        if (WireChecksum(bytes + at, length) != bytes[at + length - 1]) return false;
        if (opcode != kAnyOpcode && bytes[at + 3] != opcode) return false;
        at += length;
    }
    return true;
}
