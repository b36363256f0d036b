#include "subg/frame.h"

#include <gtest/gtest.h>

#include <vector>

#include "subg/opcodes.h"

namespace {

std::vector<uint8_t> Wire(const T7734FrameRequest& frame) {
    uint8_t out[kMaxFrameLen];
    size_t n = RequestToWire(frame, out, sizeof(out));
    return {out, out + n};
}

TEST(FrameCoding, RequestsWithoutDataAreFiveBytesAndXorTheirHeader) {
    EXPECT_EQ(Wire(MakeRequest(SubGOp::GetSWVersion)), (std::vector<uint8_t>{1, 5, 20, 20, 4}));
    EXPECT_EQ(Wire(MakeRequest(SubGOp::GetDiagnostics)), (std::vector<uint8_t>{1, 5, 20, 17, 1}));
    EXPECT_EQ(MakeRequest(SubGOp::GetServiceInfo).checksum, 57);
}

TEST(FrameCoding, RequestDataGoesBetweenOpcodeAndChecksum) {
    const uint8_t data[] = {2, 1, 0};
    auto wire = Wire(MakeRequest(SubGOp::ScanRSSI, data, sizeof(data)));
    EXPECT_EQ(wire, (std::vector<uint8_t>{1, 8, 20, 13, 2, 1, 0, static_cast<uint8_t>(1 ^ 8 ^ 20 ^ 13 ^ 2 ^ 1)}));
}

TEST(FrameCoding, ExtensionBytesNeverReachTheWireNorTheChecksum) {
    T7734FrameRequest frame = MakeRequest(SubGOp::LedWord, reinterpret_cast<const uint8_t*>("\x10"), 1);
    auto before = Wire(frame);
    frame.opcodeExt[0] = 0xAA;
    frame.opcodeExt[2] = 0x55;
    EXPECT_EQ(CalcCSReq(frame), before.back());
    EXPECT_EQ(Wire(frame), before);
    EXPECT_EQ(OpcodeKey(frame), 0x5500AA00u | SubGOp::LedWord);
}

TEST(FrameCoding, BootRomRequestsCarryTheirAddress) {
    auto wire = Wire(MakeRequest(LoaderOp::StopInBootRom, nullptr, 0, kSubGBootRomAddress));
    EXPECT_EQ(wire, (std::vector<uint8_t>{0xFD, 5, 20, 15, static_cast<uint8_t>(0xFD ^ 5 ^ 20 ^ 15)}));
}

TEST(FrameCoding, ReplyWithoutDataHasItsChecksumInTheFifthByte) {
    const uint8_t bytes[] = {5, 1, 20, 38, 5 ^ 1 ^ 20 ^ 38};
    T7734FrameReply reply;
    ASSERT_EQ(ReplyFromWire(bytes, sizeof(bytes), &reply), 5);
    EXPECT_EQ(reply.opcode, 38);
    EXPECT_EQ(reply.checksum, bytes[4]);
    EXPECT_EQ(CalcCSRep(reply), bytes[4]);
}

TEST(FrameCoding, ReplyRoundTripsThroughTheWire) {
    const uint8_t version[] = {1, 6, 10};
    T7734FrameReply made = MakeReply(SubGOp::GetSWVersion, version, sizeof(version));
    uint8_t wire[kMaxFrameLen];
    size_t n = ReplyToWire(made, wire, sizeof(wire));
    ASSERT_EQ(n, 8u);
    EXPECT_EQ(wire[0], 8);
    EXPECT_EQ(wire[3], 20);
    T7734FrameReply back;
    ASSERT_EQ(ReplyFromWire(wire, n, &back), 8);
    EXPECT_EQ(back.data[0], 1);
    EXPECT_EQ(back.data[1], 6);
    EXPECT_EQ(back.data[2], 10);
}

TEST(FrameCoding, CutterWaitsForWholeFramesAndRejectsImpossibleOnes) {
    const uint8_t request[] = {1, 5, 20, 20, 4};
    T7734FrameRequest out;
    EXPECT_EQ(RequestFromWire(request, 1, &out), 0);
    EXPECT_EQ(RequestFromWire(request, 4, &out), 0);
    EXPECT_EQ(RequestFromWire(request, 5, &out), 5);
    const uint8_t shortLength[] = {1, 4, 20, 20, 5};
    EXPECT_EQ(RequestFromWire(shortLength, 5, &out), -1);
    const uint8_t badChecksum[] = {1, 5, 20, 20, 5};
    EXPECT_EQ(RequestFromWire(badChecksum, 5, &out), -1);
    const uint8_t shortReply[] = {4, 1, 20, 0};
    T7734FrameReply reply;
    EXPECT_EQ(ReplyFromWire(shortReply, 4, &reply), -1);
    const uint8_t badReply[] = {5, 1, 20, 22, 0};
    EXPECT_EQ(ReplyFromWire(badReply, 5, &reply), -1);
    EXPECT_EQ(ReplyFromWire(badReply, 5, &reply, ReplyChecksum::kTrusted), 5);
}

TEST(FrameCoding, OversizedDataIsCutToTheLargestFrame) {
    std::vector<uint8_t> data(400, 0x5A);
    T7734FrameRequest frame = MakeRequest(SubGOp::SetRegionAndTable, data.data(), data.size());
    EXPECT_EQ(frame.length, kMaxFrameLen);
    uint8_t small[10];
    EXPECT_EQ(RequestToWire(frame, small, sizeof(small)), 0u);
}

std::vector<uint8_t> ReplyWire(uint8_t opcode, size_t dataLen) {
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t out[kMaxFrameLen];
    size_t n = ReplyToWire(MakeReply(opcode, data, dataLen), out, sizeof(out));
    return {out, out + n};
}

// Decides whether a chunk goes to the parser before the silence, and
// whether it is worth waking the parser for.
TEST(FrameCoding, WholeReplyFramesNeedEveryFrameCompleteAndChecked) {
    const std::vector<uint8_t> tag = ReplyWire(SubGOp::TagMessage, 8);
    const std::vector<uint8_t> ack = ReplyWire(SubGOp::LedWord, 1);
    auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    std::vector<uint8_t> badChecksum = ack;
    badChecksum.back() ^= 1;
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        int opcode;
        bool whole;
    } cases[] = {
        {"nothing", {}, kAnyOpcode, false},
        {"one frame", tag, kAnyOpcode, true},
        {"two frames", join(tag, ack), kAnyOpcode, true},
        {"a frame cut short", std::vector<uint8_t>(tag.begin(), tag.end() - 1), kAnyOpcode, false},
        {"a frame and the start of the next", join(tag, {ack[0], ack[1]}), kAnyOpcode, false},
        {"a bad checksum", join(tag, badChecksum), kAnyOpcode, false},
        {"a zero length byte", {0, 0, 0, 0, 0}, kAnyOpcode, false},
        {"only acknowledgements", join(ack, ack), SubGOp::LedWord, true},
        {"an acknowledgement and a tag message", join(ack, tag), SubGOp::LedWord, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WholeReplyFrames(c.bytes.data(), c.bytes.size(), c.opcode), c.whole) << c.what;
}

}  // namespace
