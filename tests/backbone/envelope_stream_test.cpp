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

// A pairing ack, an unknown number 12 of 7 bytes, a 300-byte message with a
// two-byte length and an empty clock sync.
const std::string kStream = Envelope("\x52", "\x02", "\x08\x05") + Envelope("\x62", "\x07", "1234567") +
                            Envelope("\x5A", "\xAC\x02", std::string(300, 'p')) + Envelope("\xB2\x01", std::string(1, '\0'), "");
const Delivered kExpected = {{10, "\x08\x05"}, {12, "1234567"}, {11, std::string(300, 'p')}, {22, ""}};

TEST(EnvelopeStream, DeliversTheSameEnvelopesHoweverTheStreamIsCut) {
    for (size_t piece : {kStream.size(), size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{100}}) {
        EnvelopeStream stream;
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
        EnvelopeStream stream;
        Delivered delivered;
        EXPECT_EQ(Feed(stream, c.bytes, &delivered), c.status) << c.what;
        EXPECT_EQ(delivered.size(), c.delivered) << c.what;
        EXPECT_EQ(stream.PendingBytes(), 0u) << c.what;
    }
}

TEST(EnvelopeStream, ResetForgetsAPartialEnvelope) {
    EnvelopeStream stream;
    Delivered delivered;
    Feed(stream, "\x52\x02\x08", &delivered);
    EXPECT_EQ(stream.PendingBytes(), 3u);
    stream.Reset();
    Feed(stream, Envelope("\xB2\x01", std::string(1, '\0'), ""), &delivered);
    EXPECT_EQ(delivered, (Delivered{{22, ""}}));
}

}  // namespace
