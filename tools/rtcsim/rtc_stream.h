// The RTC side of the stream: cutting the reader's bytes into envelopes,
// however the reads fall, and framing what goes back.
#pragma once

#include <cstdint>
#include <string>

#include "backbone/envelope.h"

namespace google::protobuf {
class MessageLite;
}

// The reader's messages are about a kilobyte; anything near this bound is
// a broken stream, and holding it would only grow the buffer.
constexpr uint32_t kMaxEnvelopeBody = 1u << 20;

// Keeps the bytes of an envelope cut across reads until the rest comes.
class EnvelopeCutter {
public:
    struct Cut {
        enum class Kind { kNone, kEnvelope, kInvalid } kind = Kind::kNone;
        uint32_t number = 0;
        std::string body;
        std::string error;  // kInvalid: what is wrong, with the offending bytes
    };

    void Append(const char* bytes, size_t n) { pending_.append(bytes, n); }
    // The next whole envelope, kNone until one is complete, kInvalid once the
    // stream can no longer be read (it has no way to resynchronise).
    Cut Next();
    size_t Pending() const { return pending_.size(); }
    void Clear() { pending_.clear(); }

private:
    std::string pending_;
};

// The whole envelope of msg; empty if it cannot be serialised.
std::string Frame(uint32_t number, const google::protobuf::MessageLite& msg);
// A header alone, with any declared length, for streams meant to be wrong.
std::string HeaderOnly(uint32_t number, uint32_t length);
