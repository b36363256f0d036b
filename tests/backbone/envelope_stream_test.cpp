#include "backbone/envelope_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Delivered = std::vector<std::pair<uint32_t, std::string>>;

void Collect(void* context, uint32_t number, const uint8_t* message, uint32_t length) {
    static_cast<Delivered*>(context)->emplace_back(number, std::string(reinterpret_cast<const char*>(message), length));
}

std::string Envelope(const std::string& key, const std::string& lengthVarint, const std::string& body) {
    return key + lengthVarint + body;
}

EnvelopeStream::Status Feed(EnvelopeStream& stream, const std::string& bytes, Delivered* out) {
    return stream.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), Collect, out);
}

// The numbers of this stream's reader: 12 is not among them.
bool Handled(uint32_t number) { return number == 10 || number == 11 || number == 22; }

// A pairing ack, an unhandled number 12 of 7 bytes, a 300-byte message with
// a two-byte length and an empty clock sync.
const std::string kStream = Envelope("\x52", "\x02", "\x08\x05") + Envelope("\x62", "\x07", "1234567") +
                            Envelope("\x5A", "\xAC\x02", std::string(300, 'p')) + Envelope("\xB2\x01", std::string(1, '\0'), "");
const Delivered kExpected = {{10, "\x08\x05"}, {11, std::string(300, 'p')}, {22, ""}};

TEST(EnvelopeStream, DeliversTheSameEnvelopesHoweverTheStreamIsCut) {
    for (size_t piece : {kStream.size(), size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{100}}) {
        EnvelopeStream stream(Handled);
        Delivered delivered;
        for (size_t at = 0; at < kStream.size(); at += piece)
            ASSERT_EQ(Feed(stream, kStream.substr(at, piece), &delivered), EnvelopeStream::Status::kOk) << piece;
        EXPECT_EQ(delivered, kExpected) << "pieces of " << piece;
        EXPECT_EQ(stream.PendingBytes(), 0u);
    }
}

TEST(EnvelopeStream, ABrokenStreamIsRefusedAfterWhatCameBeforeIt) {
    const std::string good = Envelope("\x52", "\x02", "\x08\x05");
    const std::string maxLength = "\x80\x80\x04";  // 65536
    const std::string overLength = "\x81\x80\x04";
    struct Case {
        const char* what;
        std::string bytes;
        EnvelopeStream::Status status;
        size_t delivered;
    } cases[] = {
        {"wire type 0", good + "\x18\x05", EnvelopeStream::Status::kInvalidHeader, 1},
        {"six-byte length", good + "\x52\xFF\xFF\xFF\xFF\xFF\x01", EnvelopeStream::Status::kInvalidHeader, 1},
        {"message over 64 KiB", good + "\x52" + overLength, EnvelopeStream::Status::kOversize, 1},
        {"64 KiB is still taken", Envelope("\x52", maxLength, std::string(65536, 'x')), EnvelopeStream::Status::kOk, 1},
    };
    for (const Case& c : cases) {
        EnvelopeStream stream(Handled);
        Delivered delivered;
        EXPECT_EQ(Feed(stream, c.bytes, &delivered), c.status) << c.what;
        EXPECT_EQ(delivered.size(), c.delivered) << c.what;
        EXPECT_EQ(stream.PendingBytes(), 0u) << c.what;
    }
}

// An RTC may send large messages the reader has no use for. Read by read,
// in 64 KiB pieces, such a message is passed over without being kept, and
// the envelope behind it, in the same read as its last bytes, is handled.
TEST(EnvelopeStream, AnUnhandledMessageOfAnyLengthIsSkippedUnbuffered) {
    constexpr size_t kRead = 64 * 1024;
    const std::string chunk(kRead, 'u');
    const std::string after = Envelope("\x52", "\x02", "\x08\x05");
    struct Case {
        const char* lengthVarint;
        uint64_t length;
    } cases[] = {{"\x81\x80\x04", 65537}, {"\xFF\xFF\xFF\xFF\x0F", 4294967295ull}};
    for (const Case& c : cases) {
        EnvelopeStream stream(Handled);
        Delivered delivered;
        ASSERT_EQ(Feed(stream, "\x62" + std::string(c.lengthVarint), &delivered), EnvelopeStream::Status::kOk);
        uint64_t left = c.length;
        while (left > 0) {
            const size_t piece = left < kRead ? static_cast<size_t>(left) : kRead;
            left -= piece;
            const EnvelopeStream::Status status =
                left > 0 ? Feed(stream, chunk, &delivered) : Feed(stream, chunk.substr(0, piece) + after, &delivered);
            ASSERT_EQ(status, EnvelopeStream::Status::kOk) << c.length;
            ASSERT_EQ(stream.PendingBytes(), 0u) << c.length;
        }
        EXPECT_EQ(delivered, (Delivered{{10, "\x08\x05"}})) << c.length;
    }
}

TEST(EnvelopeStream, ResetForgetsAPartialEnvelope) {
    // A handled envelope cut short, and an unhandled one being skipped.
    for (const std::string& start : {std::string("\x52\x02\x08"), std::string("\x62\x05" "ab")}) {
        EnvelopeStream stream(Handled);
        Delivered delivered;
        Feed(stream, start, &delivered);
        stream.Reset();
        Feed(stream, Envelope("\xB2\x01", std::string(1, '\0'), ""), &delivered);
        EXPECT_EQ(delivered, (Delivered{{22, ""}}));
    }
}

}  // namespace
