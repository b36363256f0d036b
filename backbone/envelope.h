// The envelope that frames every message on the RTC stream, the discovery
// datagram and every record of the backup file: a protobuf key (envelope
// number, wire type 2) and a length, both varints, then the message.
#pragma once

#include <cstdint>
#include <string>

namespace google::protobuf {
class MessageLite;
}

// Envelope numbers: which message follows.
enum EnvelopeNumber : uint32_t {
    RTCDISCOVER = 1,
    READERPAIRING = 2,
    READERDATAPACKAGE = 3,
    RTCPAIRACK = 10,
    RTCPERSISTACK = 11,
    READERMSGACK = 13,
    RTCSETREADERPARAM = 14,
    RTCSETTAGPARAM = 15,
    SURVEYPROGRESS = 16,
    RTCCOMMAND_FIELDNUM = 17,
    RTCCLOCKSYNC = 22,
};

constexpr int kMaxVarintBytes = 5;
constexpr int kMaxEnvelopeHeaderBytes = 2 * kMaxVarintBytes;

// Writes the key of envelope `number` at buf (room for 5 bytes); returns
// its length, 1 to 5.
int AddFieldNum(int32_t number, uint8_t* buf);

// Writes value as a varint when room is at least 5; returns the bytes
// written, or 0 when room is short.
int WriteUInt32Variant(uint32_t value, uint8_t* buf, int32_t room);

// Returns the varint's length with *value set; 0 when avail is 0; -1 when
// it runs past avail or does not fit 32 bits. *value is 0 unless a varint
// was read.
int TryReadUInt32Variant(const uint8_t* buf, uint32_t* value, int32_t avail);

// Reads key and length: the header's length (2 to 10), or 0 / -1 as
// TryReadUInt32Variant tells for the part that failed; -1 also for a key
// whose wire type is not 2. *number is set as soon as the key is read.
int GetFieldNumAndLen(const uint8_t* buf, uint32_t* number, uint32_t* length, int32_t avail);

// Whether the bytes at hand begin a header: complete, cut short by the end
// of the bytes (more may come), or one that no further byte can make valid.
enum class HeaderState { kComplete, kIncomplete, kInvalid };
HeaderState ReadEnvelopeHeader(const uint8_t* buf, int32_t avail, uint32_t* number, uint32_t* length,
                               int* headerLength);

// Appends the whole envelope of msg to out. False when the message cannot
// be serialised; out is then as it was.
bool AppendEnvelope(uint32_t number, const google::protobuf::MessageLite& msg, std::string* out);
