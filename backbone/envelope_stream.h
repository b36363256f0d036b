// Cuts the RTC's byte stream into envelopes. TCP delivers the stream in
// pieces of any size: an envelope cut by the end of one read is kept and
// completed by the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class EnvelopeStream {
public:
    // No message the reader handles comes near this; a larger one is taken
    // for a broken stream rather than buffered.
    static constexpr uint32_t kMaxMessageBytes = 64 * 1024;

    enum class Status {
        kOk,             // every complete envelope was delivered; a partial one is kept
        kInvalidHeader,  // a header no further byte can make valid
        kOversize,       // a message the reader handles, longer than kMaxMessageBytes
    };

    // Whether the reader handles envelopes of this number. The others (an
    // RTC's firmware for other devices, tag parameters for a big herd) are
    // passed over by counting their bytes, whatever their length: nothing
    // of them is buffered and they never cost the connection.
    using Handled = bool (*)(uint32_t number);

    // Called once per complete envelope of a handled number, in stream order.
    using Sink = void (*)(void* context, uint32_t number, const uint8_t* message, uint32_t length);

    explicit EnvelopeStream(Handled handled) : handled_(handled) {}

    // After a status other than kOk the stream cannot be resynchronised:
    // the caller drops the connection and calls Reset.
    Status Feed(const uint8_t* data, size_t length, Sink sink, void* context);

    // Forgets a partial envelope; for a new connection.
    void Reset();

    size_t PendingBytes() const { return pending_.size(); }

private:
    // Passes over what the read holds of an unhandled message; returns the
    // bytes taken.
    size_t Skip(size_t available);
    void ReleaseBuffer();

    Handled handled_;
    std::string pending_;
    // Bytes of an unhandled message still to come.
    uint32_t skipLeft_ = 0;
};
