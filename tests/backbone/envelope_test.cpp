#include "backbone/envelope.h"

#include <gtest/gtest.h>

#include <vector>

#include "RtcClockSync.pb.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Envelope, KeysAndLengthsAreWrittenAsVarints) {
    struct Case {
        int number;
        Bytes key;
    } cases[] = {{3, {0x1A}}, {16, {0x82, 0x01}}, {17, {0x8A, 0x01}}, {22, {0xB2, 0x01}}};
    for (const Case& c : cases) {
        uint8_t buf[kMaxVarintBytes] = {};
        ASSERT_EQ(AddFieldNum(c.number, buf), static_cast<int>(c.key.size())) << c.number;
        EXPECT_EQ(Bytes(buf, buf + c.key.size()), c.key) << c.number;
    }
    uint8_t buf[8] = {};
    EXPECT_EQ(WriteUInt32Variant(300, buf, 305), 2);
    EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{0xAC, 0x02}));
    EXPECT_EQ(WriteUInt32Variant(1, buf + 4, 4), 0) << "less than 5 bytes of room writes nothing";
    EXPECT_EQ(buf[4], 0);
}

TEST(Envelope, VarintsReadBackOrAreRefused) {
    struct Case {
        Bytes bytes;
        int avail;
        int result;
        uint32_t value;
    } cases[] = {
        {{0x7F}, 1, 1, 127},
        {{0x80, 0x01}, 2, 2, 128},
        {{0xAC, 0x02}, 2, 2, 300},
        {{0xAC, 0x02}, 1, -1, 0},
        {{0xAC, 0x02}, 0, 0, 0},
        {{0x80, 0x80, 0x01}, 3, 3, 16384},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, 5, 5, 4294967295u},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0x10}, 5, -1, 0},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 6, -1, 0},
    };
    for (const Case& c : cases) {
        uint32_t value = 99;
        EXPECT_EQ(TryReadUInt32Variant(c.bytes.data(), &value, c.avail), c.result);
        EXPECT_EQ(value, c.value);
    }
}

TEST(Envelope, HeadersAreReadOrRefused) {
    struct Case {
        Bytes bytes;
        int result;
        uint32_t number;
        uint32_t length;
        HeaderState state;
    } cases[] = {
        {{0x1A, 0xAC, 0x02}, 3, 3, 300, HeaderState::kComplete},
        {{0x18, 0x05}, -1, 3, 0, HeaderState::kInvalid},
        {{0x8A, 0x01}, 0, 17, 0, HeaderState::kIncomplete},
        {{0x8A, 0x01, 0x80}, -1, 17, 0, HeaderState::kIncomplete},
        {{0x8A}, -1, 0, 0, HeaderState::kIncomplete},
        {{0x52, 0x00}, 2, 10, 0, HeaderState::kComplete},
        {{0x1A, 0xFF, 0xFF, 0xFF, 0xFF, 0x1F}, -1, 3, 0, HeaderState::kInvalid},
    };
    for (const Case& c : cases) {
        uint32_t number = 0;
        uint32_t length = 99;
        const int avail = static_cast<int>(c.bytes.size());
        EXPECT_EQ(GetFieldNumAndLen(c.bytes.data(), &number, &length, avail), c.result);
        EXPECT_EQ(number, c.number);
        if (c.result >= 0) {
            EXPECT_EQ(length, c.length);
        }
        int headerLength = 0;
        EXPECT_EQ(ReadEnvelopeHeader(c.bytes.data(), avail, &number, &length, &headerLength), c.state);
    }
}

TEST(Envelope, AMessageIsFramedWhole) {
    RtcClockSync sync;
    sync.set_rtc_timestamp(1234567890123ull);
    std::string out = "x";
    ASSERT_TRUE(AppendEnvelope(RTCCLOCKSYNC, sync, &out));
    const auto* bytes = reinterpret_cast<const uint8_t*>(out.data()) + 1;
    uint32_t number = 0;
    uint32_t length = 0;
    const int header = GetFieldNumAndLen(bytes, &number, &length, static_cast<int>(out.size() - 1));
    ASSERT_EQ(header, 3);
    EXPECT_EQ(number, 22u);
    ASSERT_EQ(out.size(), 1 + header + length);
    RtcClockSync back;
    ASSERT_TRUE(back.ParseFromArray(bytes + header, static_cast<int>(length)));
    EXPECT_EQ(back.rtc_timestamp(), 1234567890123ull);
}

}  // namespace
