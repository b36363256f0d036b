#include "backbone/envelope_stream.h"

#include "backbone/envelope.h"

size_t EnvelopeStream::Skip(size_t available) {
    const size_t taken = available < skipLeft_ ? available : skipLeft_;
    skipLeft_ -= static_cast<uint32_t>(taken);
    return taken;
}

EnvelopeStream::Status EnvelopeStream::Feed(const uint8_t* data, size_t length, Sink sink, void* context) {
    const size_t skipped = Skip(length);
    pending_.append(reinterpret_cast<const char*>(data) + skipped, length - skipped);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pending_.data());
    const size_t available = pending_.size();
    size_t position = 0;
    Status status = Status::kOk;
    while (position < available) {
        uint32_t number = 0;
        uint32_t messageLength = 0;
        int headerLength = 0;
        const size_t left = available - position;
        // The header is at most 10 bytes: a longer remainder is never cut
        // short by the int the reader takes.
        const int32_t window = static_cast<int32_t>(left < kMaxEnvelopeHeaderBytes ? left : kMaxEnvelopeHeaderBytes);
        const HeaderState header = ReadEnvelopeHeader(bytes + position, window, &number, &messageLength, &headerLength);
        if (header == HeaderState::kInvalid) {
            status = Status::kInvalidHeader;
            break;
        }
        if (header == HeaderState::kIncomplete) break;
        if (!handled_(number)) {
            // What this read holds of the message goes now; the rest is
            // counted off the reads to come.
            position += static_cast<size_t>(headerLength);
            skipLeft_ = messageLength;
            position += Skip(available - position);
            continue;
        }
        if (messageLength > kMaxMessageBytes) {
            status = Status::kOversize;
            break;
        }
        if (left < static_cast<size_t>(headerLength) + messageLength) break;
        sink(context, number, bytes + position + headerLength, messageLength);
        position += static_cast<size_t>(headerLength) + messageLength;
    }
    if (status != Status::kOk) {
        Reset();
        return status;
    }
    pending_.erase(0, position);
    // An unhandled message may still be running: only the buffer goes.
    if (pending_.empty()) ReleaseBuffer();
    return status;
}

void EnvelopeStream::Reset() {
    pending_.clear();
    skipLeft_ = 0;
    ReleaseBuffer();
}

void EnvelopeStream::ReleaseBuffer() {
    // A large message must not keep its buffer for the life of the process.
    if (pending_.empty() && pending_.capacity() > 2 * kMaxEnvelopeHeaderBytes + 1024) pending_.shrink_to_fit();
}
