// Frames exchanged with the SubG board: in-memory records, wire coding and
// checksums. Pure logic, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t kSubGAppAddress = 1;       // board application and boot loader
constexpr uint8_t kSubGBootRomAddress = 0xFD;
constexpr uint8_t kHostByte = 20;
constexpr int kFrameOverhead = 5;            // four header bytes and the checksum
constexpr int kMaxFrameLen = 255;            // the length is one byte
constexpr int kMaxFrameData = kMaxFrameLen - kFrameOverhead;
constexpr int kFrameDataRoom = 256;

// Request, host to board. Wire order: address, length, host byte, opcode,
// data, checksum. The extension bytes never go on the wire.
struct T7734FrameRequest {
    uint8_t address;
    uint8_t length;
    uint8_t hostByte;
    uint8_t opcode;
    uint8_t opcodeExt[3];
    uint8_t data[kFrameDataRoom];
    uint8_t checksum;
};

// Reply, board to host. Wire order: length, two uninterpreted bytes, opcode,
// data, checksum.
struct T7734FrameReply {
    uint8_t length;
    uint8_t byte1;
    uint8_t byte2;
    uint8_t opcode;
    uint8_t opcodeExt[3];
    uint8_t data[kFrameDataRoom];
    uint8_t checksum;
};

static_assert(sizeof(T7734FrameRequest) == 264, "request record is all bytes, no padding");
static_assert(sizeof(T7734FrameReply) == 264, "reply record is all bytes, no padding");

uint8_t CalcCSReq(const T7734FrameRequest& frame);
uint8_t CalcCSRep(const T7734FrameReply& frame);

// The checksum a frame of length wire bytes should end with: the XOR of
// the bytes before it.
uint8_t WireChecksum(const uint8_t* bytes, size_t length);

// Data bytes of a reply; 0 for a length byte below the overhead.
int ReplyDataLen(const T7734FrameReply& reply);

// The key that identifies a frame's operation in the request queue: the
// opcode in the low byte, the extension bytes above it.
uint32_t OpcodeKey(const T7734FrameRequest& frame);
uint32_t OpcodeKey(const T7734FrameReply& frame);

// Builds a complete request, checksum included. Data beyond kMaxFrameData
// bytes is cut off.
T7734FrameRequest MakeRequest(uint8_t opcode, const uint8_t* data = nullptr, size_t dataLen = 0,
                              uint8_t address = kSubGAppAddress);
T7734FrameReply MakeReply(uint8_t opcode, const uint8_t* data = nullptr, size_t dataLen = 0);

// Writes a frame in wire order into out (room for at least frame length
// bytes). Returns the number of bytes written, 0 if the length byte is
// below 5 or room is short.
size_t RequestToWire(const T7734FrameRequest& frame, uint8_t* out, size_t room);
size_t ReplyToWire(const T7734FrameReply& frame, uint8_t* out, size_t room);

// Reads one frame from the start of wire bytes. Returns the frame's length
// when a whole frame with a good checksum is there, 0 when more bytes are
// needed, -1 when the bytes cannot be a frame (length below 5 or bad
// checksum). The exchange with the boot loader leaves its replies'
// checksums unchecked (kTrusted).
enum class ReplyChecksum { kChecked, kTrusted };
int RequestFromWire(const uint8_t* bytes, size_t n, T7734FrameRequest* out);
int ReplyFromWire(const uint8_t* bytes, size_t n, T7734FrameReply* out,
                  ReplyChecksum checksum = ReplyChecksum::kChecked);

// True when wire bytes are back-to-back reply frames with good checksums and
// nothing else, all of them with the given opcode when that is not
// kAnyOpcode.
constexpr int kAnyOpcode = -1;
bool WholeReplyFrames(const uint8_t* bytes, size_t n, int opcode = kAnyOpcode);
