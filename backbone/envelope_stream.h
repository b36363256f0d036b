// Cuts the RTC's byte stream into envelopes. TCP delivers the stream in
// pieces of any size: an envelope cut by the end of one read is kept and
// completed by the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class EnvelopeStream {
public:
    // No message from the RTC comes near this; a larger one is taken for a
    // broken stream rather than buffered.
    static constexpr uint32_t kMaxMessageBytes = 64 * 1024;

    enum class Status {
        kOk,             // every complete envelope was delivered; a partial one is kept
        kInvalidHeader,  // a header no further byte can make valid
        kOversize,       // a message longer than kMaxMessageBytes
    };

    // Called once per complete envelope, in stream order.
    using Sink = void (*)(void* context, uint32_t number, const uint8_t* message, uint32_t length);

    // After a status other than kOk the stream cannot be resynchronised:
    // the caller drops the connection and calls Reset.
    Status Feed(const uint8_t* data, size_t length, Sink sink, void* context);

    // Forgets a partial envelope; for a new connection.
    void Reset();

    size_t PendingBytes() const { return pending_.size(); }

private:
    std::string pending_;
};
