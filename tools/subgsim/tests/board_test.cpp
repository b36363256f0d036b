#include "tools/subgsim/sim_board.h"

#include <gtest/gtest.h>

#include <random>

#include "subg/opcodes.h"
#include "tools/subgsim/sim_gpio.h"

namespace {

const std::vector<uint8_t> kVersionRequest = {0x01, 0x05, 0x14, 0x14, 0x04};

std::vector<uint8_t> Append(FrameCutter* cutter, const std::vector<uint8_t>& bytes) {
    return cutter->Append(bytes.data(), bytes.size());
}

TEST(FrameCutter, CutsAWholeFrame) {
    FrameCutter cutter;
    EXPECT_TRUE(Append(&cutter, kVersionRequest).empty());
    FrameCutter::Cut cut = cutter.Next();
    EXPECT_TRUE(cut.bad.empty());
    ASSERT_TRUE(cut.hasFrame);
    EXPECT_EQ(cut.frame.opcode, SubGOp::GetSWVersion);
    EXPECT_EQ(cut.frame.address, kSubGAppAddress);
    EXPECT_EQ(cut.wire, kVersionRequest);
    EXPECT_FALSE(cutter.Next().hasFrame);
}

TEST(FrameCutter, DropsAGarbageByteAndFindsTheFrameBehindIt) {
    FrameCutter cutter;
    std::vector<uint8_t> bytes = {0xaa};
    bytes.insert(bytes.end(), kVersionRequest.begin(), kVersionRequest.end());
    Append(&cutter, bytes);
    FrameCutter::Cut cut = cutter.Next();
    EXPECT_EQ(cut.bad, std::vector<uint8_t>{0xaa});
    ASSERT_TRUE(cut.hasFrame);
    EXPECT_EQ(cut.wire, kVersionRequest);
}

// Inside the broken frame, 0x14 reads as a length of 20: the cutter cannot
// drop it before 20 bytes are there to show the checksum is wrong.
TEST(FrameCutter, DropsAFrameWithABadChecksumOnceEnoughBytesFollow) {
    FrameCutter cutter;
    std::vector<uint8_t> broken = {0x01, 0x05, 0x14, 0x14, 0x05};
    Append(&cutter, broken);
    Append(&cutter, kVersionRequest);
    FrameCutter::Cut cut = cutter.Next();
    EXPECT_EQ(cut.bad, std::vector<uint8_t>{0x01});
    EXPECT_FALSE(cut.hasFrame);
    for (int i = 0; i < 3; ++i) Append(&cutter, kVersionRequest);
    cut = cutter.Next();
    EXPECT_EQ(cut.bad, (std::vector<uint8_t>{0x05, 0x14, 0x14, 0x05}));
    ASSERT_TRUE(cut.hasFrame);
    EXPECT_EQ(cut.wire, kVersionRequest);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(cutter.Next().hasFrame);
    EXPECT_FALSE(cutter.Next().hasFrame);
}

TEST(FrameCutter, WaitsForTheRestOfAFrame) {
    FrameCutter cutter;
    Append(&cutter, {0x01, 0x05, 0x14});
    FrameCutter::Cut cut = cutter.Next();
    EXPECT_FALSE(cut.hasFrame);
    EXPECT_TRUE(cut.bad.empty());
    Append(&cutter, {0x14, 0x04});
    cut = cutter.Next();
    ASSERT_TRUE(cut.hasFrame);
    EXPECT_EQ(cut.wire, kVersionRequest);
}

TEST(FrameCutter, CutsBackToBackFramesOneAtATime) {
    FrameCutter cutter;
    std::vector<uint8_t> two = kVersionRequest;
    two.insert(two.end(), kVersionRequest.begin(), kVersionRequest.end());
    Append(&cutter, two);
    EXPECT_TRUE(cutter.Next().hasFrame);
    EXPECT_TRUE(cutter.Next().hasFrame);
    EXPECT_FALSE(cutter.Next().hasFrame);
}

TEST(FrameCutter, PushesOutTheOldestBytesWhenFull) {
    FrameCutter cutter;
    // A length byte of 255 makes the cutter wait; fill well past capacity.
    std::vector<uint8_t> fill(FrameCutter::kCapacity - 1, 0x01);
    fill[1] = 0xff;
    EXPECT_TRUE(Append(&cutter, fill).empty());
    std::vector<uint8_t> pushedOut = Append(&cutter, {0x02, 0x03, 0x04});
    EXPECT_EQ(pushedOut, (std::vector<uint8_t>{0x01, 0xff}));
    std::vector<uint8_t> huge(FrameCutter::kCapacity + 10, 0x07);
    EXPECT_EQ(Append(&cutter, huge).size(), FrameCutter::kCapacity + 10);
}

TEST(FrameCutter, ClearForgetsHalfAFrame) {
    FrameCutter cutter;
    Append(&cutter, {0x01, 0x05, 0x14});
    cutter.Clear();
    Append(&cutter, kVersionRequest);
    FrameCutter::Cut cut = cutter.Next();
    EXPECT_TRUE(cut.bad.empty());
    EXPECT_TRUE(cut.hasFrame);
}

// Whatever arrives, every byte ends up either in a frame, dropped as bad or
// still waiting: none is lost and none is made up.
TEST(FrameCutter, AccountsForEveryByteOfNoise) {
    FrameCutter cutter;
    std::mt19937 random(7734);
    size_t in = 0;
    size_t out = 0;
    for (int chunk = 0; chunk < 200; ++chunk) {
        std::vector<uint8_t> noise(random() % 300);
        for (uint8_t& b : noise) b = static_cast<uint8_t>(random() % 8 == 0 ? 0x05 : random());
        if (chunk % 10 == 0) noise.insert(noise.end(), kVersionRequest.begin(), kVersionRequest.end());
        in += noise.size();
        out += Append(&cutter, noise).size();
        for (size_t round = 0; round <= FrameCutter::kCapacity; ++round) {
            FrameCutter::Cut cut = cutter.Next();
            out += cut.bad.size() + cut.wire.size();
            if (!cut.hasFrame) break;
        }
    }
    FrameCutter::Cut rest = cutter.Next();
    EXPECT_LE(in - out, static_cast<size_t>(kMaxFrameLen));
    EXPECT_TRUE(rest.bad.empty());
}

T7734FrameRequest Request(uint8_t opcode, uint8_t address = kSubGAppAddress) {
    return MakeRequest(opcode, nullptr, 0, address);
}

TEST(SimBoard, AnswersTheSoftwareVersion) {
    SoftwareVersion v;
    ASSERT_TRUE(ParseVersion("2.0.255", &v));
    std::optional<T7734FrameReply> reply = SimBoard(v).Answer(Request(SubGOp::GetSWVersion));
    ASSERT_TRUE(reply);
    uint8_t wire[kMaxFrameLen];
    size_t n = ReplyToWire(*reply, wire, sizeof wire);
    EXPECT_EQ(std::vector<uint8_t>(wire, wire + n),
              (std::vector<uint8_t>{0x08, 0x01, 0x14, 0x14, 0x02, 0x00, 0xff, 0xf4}));
}

TEST(SimBoard, DefaultVersionIsOneSixTen) {
    std::optional<T7734FrameReply> reply = SimBoard(SoftwareVersion{}).Answer(Request(SubGOp::GetSWVersion));
    ASSERT_TRUE(reply);
    uint8_t wire[kMaxFrameLen];
    size_t n = ReplyToWire(*reply, wire, sizeof wire);
    EXPECT_EQ(std::vector<uint8_t>(wire, wire + n),
              (std::vector<uint8_t>{0x08, 0x01, 0x14, 0x14, 0x01, 0x06, 0x0a, 0x04}));
}

TEST(SimBoard, KeepsQuietOnOtherOpcodesAndOtherAddresses) {
    SimBoard board{SoftwareVersion{}};
    EXPECT_FALSE(board.Answer(Request(SubGOp::GetFreq)));
    EXPECT_FALSE(board.Answer(Request(SubGOp::GetSWVersion, kSubGBootRomAddress)));
}

TEST(ParseVersion, RejectsMalformedVersions) {
    SoftwareVersion v;
    for (const char* bad : {"", "1.6", "1.6.10.1", "1..6", "256.0.0", "a.b.c", "1.6.10 ", "-1.6.10", "1000.0.0"}) {
        EXPECT_FALSE(ParseVersion(bad, &v)) << bad;
    }
    EXPECT_TRUE(ParseVersion("0.0.0", &v));
}

TEST(ParseLineLevel, ReadsZeroAndOneOnly) {
    EXPECT_EQ(ParseLineLevel("0"), false);
    EXPECT_EQ(ParseLineLevel("1\n"), true);
    EXPECT_EQ(ParseLineLevel(" 0\n"), false);
    EXPECT_EQ(ParseLineLevel(""), std::nullopt);
    EXPECT_EQ(ParseLineLevel("\n"), std::nullopt);
    EXPECT_EQ(ParseLineLevel("out"), std::nullopt);
}

}  // namespace
