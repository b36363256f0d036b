#include "tools/subgsim/sim_board.h"
#include "tools/subgsim/sim_diagnostics.h"

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

T7734FrameRequest Request(uint8_t opcode, const std::vector<uint8_t>& data = {},
                          uint8_t address = kSubGAppAddress) {
    return MakeRequest(opcode, data.data(), data.size(), address);
}

std::vector<uint8_t> Wire(const T7734FrameReply& reply) {
    uint8_t wire[kMaxFrameLen];
    size_t n = ReplyToWire(reply, wire, sizeof wire);
    return std::vector<uint8_t>(wire, wire + n);
}

// A reply on the wire, written out independently of the frame code.
std::vector<uint8_t> Expected(uint8_t opcode, const std::vector<uint8_t>& data = {}) {
    std::vector<uint8_t> wire = {static_cast<uint8_t>(5 + data.size()), 0x01, 0x14, opcode};
    wire.insert(wire.end(), data.begin(), data.end());
    uint8_t checksum = 0;
    for (uint8_t b : wire) checksum ^= b;
    wire.push_back(checksum);
    return wire;
}

SoftwareVersion Version(const char* text) {
    SoftwareVersion v;
    EXPECT_TRUE(ParseVersion(text, &v)) << text;
    return v;
}

// Answers one request and returns the reply's wire bytes, empty for none.
std::vector<uint8_t> Ask(SimBoard* board, uint8_t opcode, const std::vector<uint8_t>& data = {}) {
    std::optional<T7734FrameReply> reply = board->Answer(Request(opcode, data));
    return reply ? Wire(*reply) : std::vector<uint8_t>{};
}

TEST(SimBoard, AnswersTheSoftwareVersion) {
    SimBoard board(Version("2.0.255"), BoardState{});
    EXPECT_EQ(Ask(&board, SubGOp::GetSWVersion),
              (std::vector<uint8_t>{0x08, 0x01, 0x14, 0x14, 0x02, 0x00, 0xff, 0xf4}));
}

TEST(SimBoard, DefaultVersionIsOneSixTen) {
    SimBoard board(SoftwareVersion{}, BoardState{});
    EXPECT_EQ(Ask(&board, SubGOp::GetSWVersion),
              (std::vector<uint8_t>{0x08, 0x01, 0x14, 0x14, 0x01, 0x06, 0x0a, 0x04}));
}

TEST(SimBoard, KeepsQuietOnTheBootRomAddressAndOnTagFirmwareBlocks) {
    SimBoard board(SoftwareVersion{}, BoardState{});
    EXPECT_FALSE(board.Answer(Request(SubGOp::GetSWVersion, {}, kSubGBootRomAddress)));
    EXPECT_FALSE(board.Answer(Request(SubGOp::SetFreq, {0, 0x64, 0x03, 0, 0, 0}, kSubGBootRomAddress)));
    EXPECT_EQ(board.State().freq[0], 907.0f);
    for (uint8_t op : {SubGOp::TagFwBlock, SubGOp::TagFwBlock001, SubGOp::TagFwBlock002}) {
        EXPECT_FALSE(board.Answer(Request(op, {1, 2, 3}))) << int(op);
    }
}

TEST(SimBoard, GivesABareReplyToEveryOtherOpcode) {
    SimBoard board(SoftwareVersion{}, BoardState{});
    for (uint8_t op : {3, 13, 19, 23, 30, 44, 200}) EXPECT_EQ(Ask(&board, op, {2, 1, 0}), Expected(op)) << int(op);
}

TEST(SimBoard, ReportsEachRadiosFrequency) {
    BoardState state;
    state.freq[0] = 868.3f;
    state.freq[1] = 915.5f;
    SimBoard board(SoftwareVersion{}, state);
    EXPECT_EQ(Ask(&board, SubGOp::GetFreq, {0}), Expected(27, {0, 0x64, 0x03, 0x2c, 0x01}));
    EXPECT_EQ(Ask(&board, SubGOp::GetFreq, {1}), Expected(27, {1, 0x93, 0x03, 0xf4, 0x01}));
    EXPECT_EQ(Ask(&board, SubGOp::GetFreq, {2}), Expected(27)) << "no third radio";
    EXPECT_EQ(Ask(&board, SubGOp::GetFreq), Expected(27));
}

TEST(SimBoard, SetsAFrequencyAndAnswersWithoutASignalReading) {
    SimBoard board(SoftwareVersion{}, BoardState{});
    EXPECT_EQ(Ask(&board, SubGOp::SetFreq, {1, 0x64, 0x03, 0x2c, 0x01, 0}),
              Expected(2, {0xff, 1, 0, 0x64, 0x03, 0x2c, 0x01}));
    EXPECT_EQ(board.State().freq[1], 868.3f);
    EXPECT_EQ(board.State().freq[0], 907.0f);
    EXPECT_EQ(Ask(&board, SubGOp::SetFreq, {2, 0x64, 0x03, 0x2c, 0x01, 0}), Expected(2));
    EXPECT_EQ(Ask(&board, SubGOp::SetFreq, {0, 0x64}), Expected(2));
    EXPECT_EQ(board.State().freq[0], 907.0f);
}

TEST(SimBoard, SetsAndReportsTheOutputPowerOfRadioZero) {
    SimBoard board(SoftwareVersion{}, BoardState{});
    EXPECT_EQ(Ask(&board, SubGOp::GetOutputPower, {1}), Expected(42, {0x7f}));
    EXPECT_EQ(Ask(&board, SubGOp::SetOutputPower, {1, 0x43}), Expected(12));
    EXPECT_EQ(board.State().power[1], 0x43);
    EXPECT_EQ(Ask(&board, SubGOp::GetOutputPower, {1}), Expected(42, {0x7f}));
    EXPECT_EQ(Ask(&board, SubGOp::SetOutputPower, {0, 0x5d}), Expected(12));
    EXPECT_EQ(Ask(&board, SubGOp::GetOutputPower, {1}), Expected(42, {0x5d}));
    Ask(&board, SubGOp::SetOutputPower, {2, 0x01});
    EXPECT_EQ(board.State().power[0], 0x5d);
    EXPECT_EQ(board.State().power[1], 0x43);
}

TEST(SimBoard, TakesTheSteadyStateIntervalInBothForms) {
    SimBoard board(SoftwareVersion{}, BoardState{});
    EXPECT_EQ(Ask(&board, SubGOp::GetSteadyStateInterval, {1}), Expected(43, {0x2c, 0x01}));
    EXPECT_EQ(Ask(&board, SubGOp::SetSteadyStateInterval, {0x58, 0x02, 0x00, 0x00}), Expected(37));
    EXPECT_EQ(board.State().steadySeconds, 600u);
    EXPECT_EQ(Ask(&board, SubGOp::SetSteadyStateInterval, {0x84, 0x03}), Expected(37));
    EXPECT_EQ(board.State().steadySeconds, 900u);
    EXPECT_EQ(Ask(&board, SubGOp::GetSteadyStateInterval, {1}), Expected(43, {0x84, 0x03}));
    Ask(&board, SubGOp::SetSteadyStateInterval, {0x01, 0x00, 0x01, 0x00});
    EXPECT_EQ(board.State().steadySeconds, 65537u);
    EXPECT_EQ(Ask(&board, SubGOp::GetSteadyStateInterval, {1}), Expected(43, {0x01, 0x00})) << "16 bits on the wire";
    Ask(&board, SubGOp::SetSteadyStateInterval, {0x05, 0x00, 0x00});
    EXPECT_EQ(board.State().steadySeconds, 65537u) << "three bytes are neither form";
}

TEST(SimBoard, AWorkingChannelInsideTheTableTunesBothRadios) {
    SimBoard board(SoftwareVersion{}, BoardState{});
    // Region 1, three channels: 868.1, 868.3, 869.0.
    EXPECT_EQ(Ask(&board, SubGOp::SetRegionAndTable,
                  {1, 3, 0x64, 0x03, 0x64, 0x00, 0x64, 0x03, 0x2c, 0x01, 0x65, 0x03, 0x00, 0x00}),
              Expected(35));
    EXPECT_EQ(board.State().region, 1);
    EXPECT_EQ(board.State().table, (std::vector<float>{868.1f, 868.3f, 869.0f}));
    EXPECT_EQ(Ask(&board, SubGOp::SetWorkingChannel, {1}), Expected(36));
    EXPECT_EQ(board.State().channel, 1);
    EXPECT_EQ(board.State().freq[0], 868.3f);
    EXPECT_EQ(board.State().freq[1], 868.3f);
    EXPECT_EQ(Ask(&board, SubGOp::GetFreq, {1}), Expected(27, {1, 0x64, 0x03, 0x2c, 0x01}));
    Ask(&board, SubGOp::SetWorkingChannel, {3});
    EXPECT_EQ(board.State().channel, 3);
    EXPECT_EQ(board.State().freq[0], 868.3f) << "outside the table the radios stay";
}

TEST(SimBoard, TheShortRegionFormKeepsTheTableOfNewerSoftware) {
    SimBoard board(SoftwareVersion{}, BoardState{});
    Ask(&board, SubGOp::SetRegionAndTable, {2});
    EXPECT_EQ(board.State().region, 2);
    EXPECT_EQ(board.State().table.size(), 15u);
    Ask(&board, SubGOp::SetRegionAndTable, {1, 2, 0x64, 0x03});
    EXPECT_EQ(board.State().table.size(), 15u) << "a table shorter than its count is refused";
    EXPECT_EQ(board.State().region, 2);
}

TEST(SimBoard, OlderSoftwareTakesTheRegionsBuiltInTable) {
    SimBoard board(Version("1.6.9"), BoardState{});
    Ask(&board, SubGOp::SetRegionAndTable, {1});
    Ask(&board, SubGOp::SetWorkingChannel, {2});
    EXPECT_EQ(board.State().freq[0], 868.5f);
    Ask(&board, SubGOp::SetRegionAndTable, {3});
    EXPECT_TRUE(board.State().table.empty());
}

TEST(SimBoard, KeepsTheDiagnosticsInterval) {
    SimBoard board(SoftwareVersion{}, BoardState{});
    EXPECT_EQ(Ask(&board, SubGOp::SetDiagInterval, {60}), Expected(24));
    EXPECT_EQ(board.State().diagMinutes, 60);
}

TEST(SimBoard, AnswersTheParameterCheckWithItsByte) {
    BoardState state;
    SimBoard board(SoftwareVersion{}, state);
    EXPECT_EQ(Ask(&board, SubGOp::ParamCheck), Expected(1, {1}));
    board.MutableState()->paramCheck = 0;
    EXPECT_EQ(Ask(&board, SubGOp::ParamCheck), Expected(1, {0}));
}

TEST(SimBoard, EchoesAndKeepsTheLedWord) {
    SimBoard board(SoftwareVersion{}, BoardState{});
    EXPECT_EQ(Ask(&board, SubGOp::LedWord, {0x90}), Expected(38, {0x90}));
    EXPECT_EQ(board.State().ledWord, 0x90);
    EXPECT_EQ(Ask(&board, SubGOp::LedWord), Expected(38));
}

TEST(SimBoard, HasNoApplicationChecksum) {
    SimBoard board(SoftwareVersion{}, BoardState{});
    EXPECT_EQ(Ask(&board, SubGOp::GetAppChecksum), Expected(39, {0xff}));
}

TEST(SimBoard, SendsTheVersionRecordOnlyFromNewerSoftware) {
    SimBoard board(Version("1.6.10"), BoardState{});
    std::vector<uint8_t> record(33, 0);
    record[0] = 7;
    record[19] = 10;
    record[20] = 6;
    record[21] = 1;
    record[27] = 1;
    record[31] = 1;
    EXPECT_EQ(Ask(&board, SubGOp::GetServiceInfo), Expected(41, record));
    // Images the loader activated, from the next start on.
    board.RunApplication(0x01061103);
    board.RunBootLoader(0x02000100);
    record[18] = 3, record[19] = 17;
    record[25] = 1, record[27] = 2;
    EXPECT_EQ(Ask(&board, SubGOp::GetServiceInfo), Expected(41, record));
    EXPECT_EQ(Ask(&board, SubGOp::GetSWVersion), Expected(20, {1, 6, 17}));
    SimBoard old(Version("1.6.9"), BoardState{});
    EXPECT_FALSE(old.Answer(Request(SubGOp::GetServiceInfo)));
}

TEST(SimBoard, SendsDiagnosticsInTheLayoutOfItsVersion) {
    // The host reads version 0 as not yet known and expects the short layout.
    const struct {
        const char* version;
        size_t bytes;
    } cases[] = {{"1.6.10", 138}, {"1.6.9", 146}, {"0.0.0", 138}};
    for (const auto& c : cases) {
        SimBoard board(Version(c.version), BoardState{});
        const std::vector<uint8_t> payload = DiagnosticsPayload(Version(c.version), BoardState{});
        EXPECT_EQ(payload.size(), c.bytes) << c.version;
        EXPECT_EQ(Ask(&board, SubGOp::GetDiagnostics), Expected(17, payload)) << c.version;
    }
}

TEST(SimBoardVersion, DrawsTheLineAboveOneSixNine) {
    EXPECT_FALSE(IsModernVersion(Version("1.6.9")));
    EXPECT_TRUE(IsModernVersion(Version("1.6.10")));
    EXPECT_TRUE(IsModernVersion(Version("2.0.0")));
    EXPECT_FALSE(IsModernVersion(Version("0.0.0")));
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
