#include "subgconfig/frequencies.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "params/rf_settings.h"
#include "params/working_params.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "subg/scheduler.h"
#include "subg/display_setting.h"
#include "subgconfig/config_requests.h"
#include "subgconfig/freq_coding.h"
#include "support/scratch_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::vector<float> kUsaTable(BackwardCompatChannArray[0], BackwardCompatChannArray[0] + 15);
const std::vector<float> kEuropeTable(BackwardCompatChannArray[1], BackwardCompatChannArray[1] + 6);

struct Queued {
    int opcode;
    Bytes data;
    bool operator==(const Queued& o) const { return opcode == o.opcode && data == o.data; }
};

std::ostream& operator<<(std::ostream& os, const Queued& q) {
    os << "{op " << q.opcode << ":";
    for (uint8_t b : q.data) os << " " << static_cast<int>(b);
    return os << "}";
}

Bytes DataOf(const T7734FrameRequest& frame) {
    return Bytes(frame.data, frame.data + (frame.length - kFrameOverhead));
}

// Everything queued so far, in the order the board would get it.
std::vector<Queued> TakeQueued() {
    std::vector<Queued> all;
    T7734FrameRequest out;
    while (PendingSubGRequests() > 0 && GetNextSubGBReq(&out) == 1) {
        EXPECT_EQ(out.checksum, CalcCSReq(out));
        EXPECT_EQ(out.address, kSubGAppAddress);
        EXPECT_EQ(out.hostByte, kHostByte);
        all.push_back({out.opcode, DataOf(out)});
    }
    return all;
}

std::vector<int> Opcodes(const std::vector<Queued>& queued) {
    std::vector<int> ops;
    for (const Queued& q : queued) ops.push_back(q.opcode);
    return ops;
}

Bytes FreqBytes(uint16_t mhz, uint16_t khz) {
    return {static_cast<uint8_t>(mhz), static_cast<uint8_t>(mhz >> 8), static_cast<uint8_t>(khz),
            static_cast<uint8_t>(khz >> 8)};
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The reply as the serial parser leaves it for the handler.
int Handle(ReplyHandler handler, uint8_t opcode, const Bytes& data) {
    return handler(MakeReply(opcode, data.data(), data.size()));
}

Bytes GetFreqReply(uint8_t radio, uint16_t mhz, uint16_t khz) {
    return Concat({radio}, FreqBytes(mhz, khz));
}

Queued RadioFreqRequestFor(uint8_t radio, uint16_t mhz, uint16_t khz) {
    return {SubGOp::SetFreq, Concat(Concat({radio}, FreqBytes(mhz, khz)), {0})};
}

off_t FileSize(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? st.st_size : -1;
}

// Each case runs in its own process, so the daemon's state starts as at
// start-up; files go to a fresh directory.
class FrequenciesTest : public ::testing::Test {
protected:
    // The defaults, as a first start leaves them, with the board's version.
    static void LoadDefaults(uint32_t version) {
        SetSubGAppVersion(version);
        LoadParams();
        ASSERT_TRUE(WorkingParamsLoaded());
    }

    static void SetRegion(int32_t region) {
        WorkingParamsSt params = SnapshotWorkingParams();
        params.RFRegion = region;
        CopyReaderParam(params);
    }

    ScratchDir workingDir_{"tarnel-freq-", ScratchDir::Cwd::Enter};
};

TEST(FreqCoding, FrequenciesAreCodedAsMegahertzAndKilohertz) {
    EXPECT_EQ(EncodeFreq(868.3f).mhz, 868);
    EXPECT_EQ(EncodeFreq(868.3f).khz, 300);
    EXPECT_EQ(EncodeFreq(915.5f).mhz, 915);
    EXPECT_EQ(EncodeFreq(915.5f).khz, 500);
    EXPECT_EQ(EncodeFreq(907.0f).mhz, 907);
    EXPECT_EQ(EncodeFreq(907.0f).khz, 0);
    EXPECT_EQ(EncodeFreq(903.1f).mhz, 903);
    EXPECT_EQ(EncodeFreq(903.1f).khz, 100);

    uint8_t wire[4];
    PutFreqCode(wire, EncodeFreq(903.1f));
    EXPECT_EQ(Bytes(wire, wire + 4), (Bytes{0x87, 0x03, 0x64, 0x00}));
    EXPECT_EQ(GetFreqCode(wire).mhz, 903);
    EXPECT_EQ(GetFreqCode(wire).khz, 100);
}

TEST(FreqCoding, EveryBuiltInChannelComesBackAsTheSameFloat) {
    for (int region = 0; region < kBuiltInRegions; ++region) {
        for (int i = 0; i < BuiltInChannelCount(region); ++i) {
            float f = BackwardCompatChannArray[region][i];
            EXPECT_EQ(DecodeFreq(EncodeFreq(f)), f) << "region " << region << " channel " << i;
        }
    }
    EXPECT_NE(DecodeFreq({868, 299}), 868.3f);
    EXPECT_EQ(DecodeFreq({868, 300}), 868.3f);
}

TEST(FreqCoding, FrequenciesThatCannotBeCodedGiveZeros) {
    for (float f : {-1.0f, 65536.0f, 1e30f, std::numeric_limits<float>::infinity(),
                    std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_FALSE(IsEncodableFreq(f)) << f;
        EXPECT_EQ(EncodeFreq(f).mhz, 0) << f;
        EXPECT_EQ(EncodeFreq(f).khz, 0) << f;
    }
    EXPECT_EQ(EncodeFreq(65535.99f).mhz, 65535);
}

TEST(FreqCoding, OnlySubGHzFrequenciesFromTheLowestChannelUpAreRadioFrequencies) {
    float lowest = std::numeric_limits<float>::max();
    for (int region = 0; region < kBuiltInRegions; ++region) {
        for (int i = 0; i < BuiltInChannelCount(region); ++i) lowest = std::min(lowest, BackwardCompatChannArray[region][i]);
    }
    EXPECT_EQ(kLowestRadioFreq, lowest);
    EXPECT_TRUE(IsUsableRadioFreq(868.1f));
    EXPECT_TRUE(IsUsableRadioFreq(907.0f));
    EXPECT_FALSE(IsUsableRadioFreq(868.0f));
    EXPECT_FALSE(IsUsableRadioFreq(0.0f));
    EXPECT_TRUE(IsUsableRadioFreq(999.9f));
    EXPECT_FALSE(IsUsableRadioFreq(1000.0f)) << "the radios are sub-GHz ones";
    EXPECT_FALSE(IsUsableRadioFreq(std::numeric_limits<float>::quiet_NaN()));
}

TEST(FreqCoding, BuiltInTablesHaveTheirRegionsCounts) {
    EXPECT_EQ(BuiltInChannelCount(0), 15);
    EXPECT_EQ(BuiltInChannelCount(1), 6);
    EXPECT_EQ(BuiltInChannelCount(2), 5);
    EXPECT_EQ(BuiltInChannelCount(3), 0);
    EXPECT_EQ(BuiltInChannelCount(-1), 0);
    EXPECT_EQ(BackwardCompatChannArray[1][6], 0.0f) << "unused places are 0";
}

TEST(PowerCodes, EveryTableEntryTranslatesBothWays) {
    const std::vector<std::pair<int, int>> table = {
        {-11, 0x43}, {-6, 0x4F}, {-3, 0x56}, {0, 0x5D},  {1, 0x5F},  {2, 0x62},  {3, 0x64},
        {4, 0x66},   {5, 0x69},  {6, 0x6B},  {7, 0x6D},  {8, 0x6F},  {9, 0x72},  {10, 0x74},
        {11, 0x77},  {12, 0x79}, {13, 0x7B}, {14, 0x7D}, {15, 0x7F},
    };
    for (const auto& [dBm, code] : table) {
        EXPECT_EQ(CalcPA(dBm), code) << dBm;
        EXPECT_EQ(ParsePA(static_cast<uint8_t>(code)), dBm) << code;
    }
}

TEST(PowerCodes, ValuesOutsideTheTable) {
    EXPECT_EQ(CalcPA(16), 0xFF);
    EXPECT_EQ(CalcPA(-1), 0xFF);
    EXPECT_EQ(CalcPA(-4), 0xFF);
    EXPECT_EQ(CalcPA(std::numeric_limits<int>::min()), 0xFF);
    EXPECT_EQ(ParsePA(0x5D), 0);
    EXPECT_EQ(ParsePA(0x00), 0);
    EXPECT_EQ(ParsePA(0xFF), 0);
}

TEST(ConfigRequests, ALongTableIsCutAtTheFrameNotBeyondIt) {
    std::vector<float> table(80, 907.0f);
    T7734FrameRequest req = ChannTableRequest(0, table);
    EXPECT_EQ(req.length, 255);
    EXPECT_EQ(req.data[1], 62);
    EXPECT_EQ(req.data[250], 0) << "nothing written behind the frame's data";
    EXPECT_EQ(req.checksum, CalcCSReq(req));
}

TEST(ConfigRequests, TheFrequencyRequestCarriesATrailingZero) {
    T7734FrameRequest req = RadioFreqRequest(kRadio2, 903.1f);
    EXPECT_EQ(req.length, 11);
    EXPECT_EQ(DataOf(req), (Bytes{0x01, 0x87, 0x03, 0x64, 0x00, 0x00}));
}

TEST_F(FrequenciesTest, AFrequencyReadBackOneKilohertzLowIsCorrected) {
    LoadDefaults(10610);
    SetRadioFreq(868.3f);

    EXPECT_EQ(Handle(HandleGetFreq, SubGOp::GetFreq, GetFreqReply(0, 868, 299)), kFrameTaken);
    EXPECT_EQ(TakeQueued(), (std::vector<Queued>{RadioFreqRequestFor(0, 868, 300)}));

    EXPECT_EQ(Handle(HandleGetFreq, SubGOp::GetFreq, GetFreqReply(0, 868, 300)), kFrameTaken);
    EXPECT_TRUE(TakeQueued().empty()) << "868/300 is 868.3 exactly";
}

TEST_F(FrequenciesTest, EachRadioIsComparedWithItsOwnFrequency) {
    LoadDefaults(10610);
    Radio2Freq = 915.5f;

    Handle(HandleGetFreq, SubGOp::GetFreq, GetFreqReply(1, 907, 0));
    EXPECT_EQ(TakeQueued(), (std::vector<Queued>{RadioFreqRequestFor(1, 915, 500)}));
    Handle(HandleGetFreq, SubGOp::GetFreq, GetFreqReply(0, 907, 0));
    EXPECT_TRUE(TakeQueued().empty());
    Handle(HandleGetFreq, SubGOp::GetFreq, GetFreqReply(2, 1, 0));
    EXPECT_TRUE(TakeQueued().empty()) << "no third radio";
}

TEST_F(FrequenciesTest, AShortFrequencyReplyDiscardsTheQueue) {
    LoadDefaults(10610);
    EXPECT_EQ(Handle(HandleGetFreq, SubGOp::GetFreq, {0, 0x6B, 0x03, 0x2C}), kDiscardQueue);
    EXPECT_TRUE(TakeQueued().empty());
}

TEST_F(FrequenciesTest, NothingIsCorrectedBeforeTheParametersAreLoaded) {
    Handle(HandleGetFreq, SubGOp::GetFreq, GetFreqReply(0, 868, 299));
    Handle(HandleGetFreq, SubGOp::GetFreq, GetFreqReply(1, 915, 500));
    EXPECT_EQ(Handle(ParseSteadyStateInterval, SubGOp::GetSteadyStateInterval, {0x2B, 0x01}), kFrameTaken);
    EXPECT_TRUE(TakeQueued().empty());
}

TEST_F(FrequenciesTest, NoCorrectionTowardsAnUnsetFrequency) {
    LoadDefaults(10610);
    for (float unset : {0.0f, 433.92f, std::numeric_limits<float>::quiet_NaN(),
                        std::numeric_limits<float>::infinity()}) {
        Radio1Freq = unset;
        Handle(HandleGetFreq, SubGOp::GetFreq, GetFreqReply(0, 907, 0));
        SendRadioFreq(kRadio1);
        EXPECT_TRUE(TakeQueued().empty()) << unset;
    }
    SendRadioFreq(2);
    EXPECT_TRUE(TakeQueued().empty()) << "no third radio";
}

// The version reply comes before the load, the board then reports what it
// has, and the parameters arrive: at no point is a radio sent below the
// lowest channel.
TEST_F(FrequenciesTest, AFreshReaderNeverSendsAFrequencyBelowTheLowestChannel) {
    for (uint32_t version : {10609u, 10610u}) {
        SCOPED_TRACE(version);
        SetSubGAppVersion(version);
        SetSubGBoardParameters();
        Handle(HandleGetFreq, SubGOp::GetFreq, GetFreqReply(0, 0, 0));
        Handle(HandleGetFreq, SubGOp::GetFreq, GetFreqReply(1, 0, 0));
        EXPECT_TRUE(TakeQueued().empty()) << "nothing meaningful before the load";
    }
    LoadParams();
    SendOwedBoardParameters();  // no table yet: the frequencies go out directly
    Handle(HandleGetFreq, SubGOp::GetFreq, GetFreqReply(0, 0, 0));
    SetSubGAppVersion(10609);
    SetRegion(7);
    SetSubGBoardParameters();
    int freqs = 0;
    for (const Queued& q : TakeQueued()) {
        if (q.opcode != SubGOp::SetFreq) continue;
        ++freqs;
        EXPECT_EQ(DecodeFreq(GetFreqCode(q.data.data() + 1)), 907.0f) << q;
    }
    EXPECT_GT(freqs, 0);
}

TEST_F(FrequenciesTest, OlderBoardSoftwareGetsRegionAndChannel) {
    LoadDefaults(10609);
    SetRegion(1);
    SetSubGBoardParameters();
    EXPECT_EQ(TakeQueued(), (std::vector<Queued>{
                                {SubGOp::SetDiagInterval, {60}},
                                {SubGOp::SetSteadyStateInterval, {0x2C, 0x01, 0x00, 0x00}},
                                {SubGOp::SetOutputPower, {0, 0x7F}},
                                {SubGOp::SetOutputPower, {1, 0x7F}},
                                {SubGOp::SetRegionAndTable, {1}},
                                {SubGOp::SetWorkingChannel, {0}},
                            }));
}

// The short region request repeats the first byte of the long one still in
// the queue, so the queue takes it for a duplicate: the board gets the
// region with the table.
TEST_F(FrequenciesTest, NewerBoardSoftwareGetsTheTableFirst) {
    LoadDefaults(10610);
    SetRegion(1);
    ASSERT_TRUE(ChangeFreqTable(kEuropeTable.data(), 6));
    SetSubGBoardParameters();

    Bytes table = {1, 6};
    for (float f : kEuropeTable) table = Concat(table, FreqBytes(EncodeFreq(f).mhz, EncodeFreq(f).khz));
    EXPECT_EQ(TakeQueued(), (std::vector<Queued>{
                                {SubGOp::SetRegionAndTable, table},
                                {SubGOp::SetDiagInterval, {60}},
                                {SubGOp::SetSteadyStateInterval, {0x2C, 0x01, 0x00, 0x00}},
                                {SubGOp::SetOutputPower, {0, 0x7F}},
                                {SubGOp::SetOutputPower, {1, 0x7F}},
                                {SubGOp::SetWorkingChannel, {0}},
                            }));
}

TEST_F(FrequenciesTest, ARegionOlderSoftwareDoesNotKnowGetsTheFrequenciesDirectly) {
    LoadDefaults(10609);
    SetRegion(3);
    SetSubGBoardParameters();
    EXPECT_EQ(TakeQueued(), (std::vector<Queued>{
                                {SubGOp::SetDiagInterval, {60}},
                                {SubGOp::SetSteadyStateInterval, {0x2C, 0x01, 0x00, 0x00}},
                                {SubGOp::SetOutputPower, {0, 0x7F}},
                                {SubGOp::SetOutputPower, {1, 0x7F}},
                                RadioFreqRequestFor(0, 907, 0),
                                RadioFreqRequestFor(1, 907, 0),
                            }));
}

TEST_F(FrequenciesTest, AWorkingChannelOutsideTheTableIsNeverSent) {
    LoadDefaults(10609);
    SetRegion(2);
    SetWorkingChann(5);  // Israel has channels 0 to 4
    SetSubGBoardParameters();
    std::vector<Queued> queued = TakeQueued();
    EXPECT_EQ(Opcodes(queued), (std::vector<int>{SubGOp::SetDiagInterval, SubGOp::SetSteadyStateInterval,
                                                 SubGOp::SetOutputPower, SubGOp::SetOutputPower,
                                                 SubGOp::SetRegionAndTable, SubGOp::SetFreq, SubGOp::SetFreq}));

    SetWorkingChann(-1);
    SetSubGBoardParameters();
    for (int op : Opcodes(TakeQueued())) EXPECT_NE(op, SubGOp::SetWorkingChannel);

    SetSubGAppVersion(10610);
    ASSERT_TRUE(ChangeFreqTable(kUsaTable.data(), 15));
    SetWorkingChann(15);
    SetSubGBoardParameters();
    for (int op : Opcodes(TakeQueued())) EXPECT_NE(op, SubGOp::SetWorkingChannel);
    SetWorkingChann(14);
    SetSubGBoardParameters();
    queued = TakeQueued();
    ASSERT_FALSE(queued.empty());
    EXPECT_EQ(queued.back(), (Queued{SubGOp::SetWorkingChannel, {14}}));
}

TEST_F(FrequenciesTest, APowerWithoutACodeIsNotSent) {
    LoadDefaults(10609);
    Radio1Power = -1;
    SetSubGBoardParameters();
    std::vector<Queued> queued = TakeQueued();
    int powers = 0;
    for (const Queued& q : queued) {
        if (q.opcode != SubGOp::SetOutputPower) continue;
        ++powers;
        EXPECT_EQ(q.data, (Bytes{1, 0x7F}));
    }
    EXPECT_EQ(powers, 1);
}

TEST_F(FrequenciesTest, TheUploadAskedForBeforeTheLoadIsMadeOnceAfterIt) {
    SetSubGAppVersion(10609);
    SendOwedBoardParameters();
    EXPECT_TRUE(TakeQueued().empty()) << "nothing owed yet";
    SetSubGBoardParameters();
    EXPECT_TRUE(TakeQueued().empty());

    LoadParams();
    SendOwedBoardParameters();
    EXPECT_EQ(Opcodes(TakeQueued()),
              (std::vector<int>{SubGOp::SetDiagInterval, SubGOp::SetSteadyStateInterval, SubGOp::SetOutputPower,
                                SubGOp::SetOutputPower, SubGOp::SetRegionAndTable, SubGOp::SetWorkingChannel}));
    SendOwedBoardParameters();
    EXPECT_EQ(PendingSubGRequests(), 0u) << "owed once";
}

TEST_F(FrequenciesTest, TheTableIsPackedWithRegionCountAndCodedChannels) {
    LoadDefaults(10610);
    ASSERT_TRUE(ChangeFreqTable(kUsaTable.data(), 15));
    T7734FrameRequest req;
    PackChannArrayToSubG(&req);
    EXPECT_EQ(req.address, kSubGAppAddress);
    EXPECT_EQ(req.hostByte, kHostByte);
    EXPECT_EQ(req.opcode, SubGOp::SetRegionAndTable);
    EXPECT_EQ(req.length, 7 + 4 * 15);
    EXPECT_EQ(req.data[0], 0);
    EXPECT_EQ(req.data[1], 15);
    EXPECT_EQ(Bytes(req.data + 2, req.data + 6), FreqBytes(907, 0));
    EXPECT_EQ(Bytes(req.data + 58, req.data + 62), FreqBytes(921, 400));
    EXPECT_EQ(req.checksum, CalcCSReq(req));
}

TEST_F(FrequenciesTest, ATableLoadedLongerThanAFrameIsPackedUpToTheFrame) {
    LoadDefaults(10610);
    ReplaceChanTable(std::vector<float>(100, 915.5f));
    T7734FrameRequest req;
    PackChannArrayToSubG(&req);
    EXPECT_EQ(req.length, 255);
    EXPECT_EQ(req.data[1], 62);
    EXPECT_EQ(req.checksum, CalcCSReq(req));
}

TEST_F(FrequenciesTest, ATableThatDoesNotFitOneRequestIsRefused) {
    LoadDefaults(10610);
    ASSERT_TRUE(ChangeFreqTable(kUsaTable.data(), 15));
    const off_t savedSize = FileSize(ParamFilName);
    ParamsUpdated = 0;

    std::vector<float> tooLong(63, 907.0f);
    EXPECT_FALSE(ChangeFreqTable(tooLong.data(), 63));
    EXPECT_FALSE(ChangeFreqTable(tooLong.data(), 255));
    EXPECT_FALSE(ChangeFreqTable(tooLong.data(), -1));
    std::vector<float> withNaN = kUsaTable;
    withNaN[3] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(ChangeFreqTable(withNaN.data(), 15));

    EXPECT_EQ(SnapshotChanArray(), kUsaTable);
    EXPECT_EQ(SnapshotWorkingParams().ChanArrayLen, 15);
    EXPECT_EQ(ChannArrayLen.load(), 15);
    EXPECT_EQ(FileSize(ParamFilName), savedSize);
    EXPECT_EQ(ParamsUpdated.load(), 0);
}

TEST_F(FrequenciesTest, ATableOfSixtyTwoIsTakenAndSaved) {
    LoadDefaults(10610);
    std::vector<float> table(62);
    for (size_t i = 0; i < table.size(); ++i) table[i] = 902.0f + 0.25f * static_cast<float>(i);
    ParamsUpdated = 0;
    ASSERT_TRUE(ChangeFreqTable(table.data(), 62));
    EXPECT_EQ(SnapshotChanArray(), table);
    EXPECT_EQ(ChannArrayLen.load(), 62);
    EXPECT_EQ(FileSize(ParamFilName), static_cast<off_t>(kWorkingParamsSize + 4 * 62));
    EXPECT_EQ(ParamsUpdated.load(), 1);

    LoadParams();
    EXPECT_EQ(SnapshotChanArray(), table) << "the saved table loads back";
}

TEST_F(FrequenciesTest, ARegionRowWithZerosAfterItsChannelsIsTaken) {
    LoadDefaults(10610);
    ASSERT_TRUE(ChangeFreqTable(BackwardCompatChannArray[1], 15));
    std::vector<float> table = SnapshotChanArray();
    ASSERT_EQ(table.size(), 15u);
    EXPECT_EQ(table[5], 869.8f);
    EXPECT_EQ(table[6], 0.0f);
}

TEST_F(FrequenciesTest, TheChannelScanRunsOnlyWithATableTheBoardKnows) {
    LoadDefaults(10609);
    ASSERT_TRUE(ChangeFreqTable(kUsaTable.data(), 15));
    EXPECT_EQ(DoesFrequenciesTableMatch(), 0) << "board not connected";
    SubGBoardConnected = 1;
    EXPECT_EQ(DoesFrequenciesTableMatch(), 1);

    std::vector<float> changed = kUsaTable;
    changed[7] = 914.8f;
    ASSERT_TRUE(ChangeFreqTable(changed.data(), 15));
    EXPECT_EQ(DoesFrequenciesTableMatch(), 0);

    ASSERT_TRUE(ChangeFreqTable(kUsaTable.data(), 14));
    EXPECT_EQ(DoesFrequenciesTableMatch(), 0) << "one channel short";

    SetRegion(1);
    ASSERT_TRUE(ChangeFreqTable(BackwardCompatChannArray[1], 15));
    EXPECT_EQ(DoesFrequenciesTableMatch(), 0) << "Europe has six channels";
    ASSERT_TRUE(ChangeFreqTable(kEuropeTable.data(), 6));
    EXPECT_EQ(DoesFrequenciesTableMatch(), 1);

    SetRegion(3);
    EXPECT_EQ(DoesFrequenciesTableMatch(), 0);
    SetSubGAppVersion(10610);
    EXPECT_EQ(DoesFrequenciesTableMatch(), 1) << "newer software has the host's table";
    SetSubGAppVersion(0);
    EXPECT_EQ(DoesFrequenciesTableMatch(), 0) << "version unknown";
}

TEST_F(FrequenciesTest, TheSteadyStateIntervalIsCorrectedWhenItDiffers) {
    LoadDefaults(10610);
    EXPECT_EQ(Handle(ParseSteadyStateInterval, SubGOp::GetSteadyStateInterval, {0x2C, 0x01}), kFrameTaken);
    EXPECT_TRUE(TakeQueued().empty());

    EXPECT_EQ(Handle(ParseSteadyStateInterval, SubGOp::GetSteadyStateInterval, {0x2B, 0x01}), kFrameTaken);
    EXPECT_EQ(TakeQueued(), (std::vector<Queued>{{SubGOp::SetSteadyStateInterval, {0x2C, 0x01}}}));

    EXPECT_EQ(Handle(ParseSteadyStateInterval, SubGOp::GetSteadyStateInterval, {0x2C}), kDiscardQueue);
}

// 72000 s reads back as its low 16 bits, 6464: that is a match, and a real
// difference restores all 32 bits.
TEST_F(FrequenciesTest, AnIntervalBeyondSixteenBitsIsNotCutByCorrections) {
    LoadDefaults(10610);
    SetSteadyStateIntervalProc(72000);
    Handle(ParseSteadyStateInterval, SubGOp::GetSteadyStateInterval, {0x40, 0x19});
    EXPECT_TRUE(TakeQueued().empty());
    Handle(ParseSteadyStateInterval, SubGOp::GetSteadyStateInterval, {0x2C, 0x01});
    EXPECT_EQ(TakeQueued(), (std::vector<Queued>{{SubGOp::SetSteadyStateInterval, {0x40, 0x19, 0x01, 0x00}}}));
}

TEST_F(FrequenciesTest, TheSixteenBitIntervalRequestTakesTheLowBits) {
    SendSteadyStateInterval(70000);
    EXPECT_EQ(TakeQueued(), (std::vector<Queued>{{SubGOp::SetSteadyStateInterval, {0x70, 0x11}}}));
}

TEST_F(FrequenciesTest, PowerRepliesAreNeverCorrected) {
    LoadDefaults(10610);
    DisplaySettings = 1;
    EXPECT_EQ(Handle(ParseOutPutPower, SubGOp::GetOutputPower, {0x43}), kFrameTaken);
    EXPECT_TRUE(TakeQueued().empty());
    EXPECT_EQ(Handle(ParseOutPutPower, SubGOp::GetOutputPower, {}), kDiscardQueue);
}

TEST_F(FrequenciesTest, ASetFrequencyReplyIsReadOnlyWhenWhole) {
    EXPECT_EQ(Handle(HandleSetFreq, SubGOp::SetFreq, {0xFF, 0, 0, 0, 0}), kFrameTaken) << "no measurement";
    EXPECT_EQ(Handle(HandleSetFreq, SubGOp::SetFreq, {0, 0, 0x10, 0x6B, 0x03, 0, 0}), kFrameTaken);
    EXPECT_EQ(Handle(HandleSetFreq, SubGOp::SetFreq, {0, 0, 0x10, 0x6B, 0x03}), kDiscardQueue)
        << "a reading cut short is not read past its frame";
    EXPECT_EQ(Handle(HandleSetFreq, SubGOp::SetFreq, {0xFF, 0, 0, 0}), kDiscardQueue);
    EXPECT_TRUE(TakeQueued().empty());
}

// One thread replaces the table back and forth while others pack and match
// it: every packed table is one of the two, whole.
TEST_F(FrequenciesTest, ReadersNeverSeeAHalfReplacedTable) {
    LoadDefaults(10609);
    SubGBoardConnected = 1;
    std::vector<float> longer(40);
    for (size_t i = 0; i < longer.size(); ++i) longer[i] = 868.1f + 0.5f * static_cast<float>(i);
    const T7734FrameRequest usaFrame = ChannTableRequest(0, kUsaTable);
    const T7734FrameRequest longerFrame = ChannTableRequest(0, longer);

    ASSERT_TRUE(ChangeFreqTable(kUsaTable.data(), 15));
    std::atomic<bool> done{false};
    std::atomic<int> mixed{0};
    std::atomic<int> packs{0};
    auto reader = [&] {
        for (int i = 0; i < 1000000 && (!done || i < 50); ++i) {
            T7734FrameRequest req;
            PackChannArrayToSubG(&req);
            const T7734FrameRequest& expected = req.data[1] == 15 ? usaFrame : longerFrame;
            if (DataOf(req) != DataOf(expected)) ++mixed;
            DoesFrequenciesTableMatch();
            ++packs;
        }
    };
    std::thread r1(reader), r2(reader);
    for (int i = 0; i < 60; ++i) {
        const std::vector<float>& next = i % 2 == 0 ? longer : kUsaTable;
        ASSERT_TRUE(ChangeFreqTable(next.data(), static_cast<int>(next.size())));
    }
    done = true;
    r1.join();
    r2.join();
    EXPECT_EQ(mixed.load(), 0);
    EXPECT_GT(packs.load(), 0);
}

}  // namespace
