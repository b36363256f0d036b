#include "subgconfig/rf_startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "params/rf_settings.h"
#include "params/working_params.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "subg/scheduler.h"
#include "subgconfig/frequencies.h"
#include "support/scratch_dir.h"
#include "support/text_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Queued {
    int opcode;
    int length;
    Bytes data;
    bool operator==(const Queued& o) const { return opcode == o.opcode && length == o.length && data == o.data; }
};

std::ostream& operator<<(std::ostream& os, const Queued& q) {
    os << "{op " << q.opcode << " len " << q.length << ":";
    for (uint8_t b : q.data) os << " " << static_cast<int>(b);
    return os << "}";
}

std::vector<Queued> TakeQueued() {
    std::vector<Queued> all;
    T7734FrameRequest out;
    while (PendingSubGRequests() > 0 && GetNextSubGBReq(&out) == 1) {
        EXPECT_EQ(out.checksum, CalcCSReq(out));
        all.push_back({out.opcode, out.length, Bytes(out.data, out.data + (out.length - kFrameOverhead))});
    }
    return all;
}



// Each case runs in its own process; files go to a fresh directory and the
// board counts as connected, so the start-up procedure does not wait.
class RFSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { SubGBoardConnected = 1; }

    static void StartWith(const std::string& settings) {
        WriteText(RFSettingFilePath, settings);
        LoadAndSetRFSettings();
    }

    ScratchDir workingDir_{"tarnel-rf-", ScratchDir::Cwd::Enter};
};

TEST_F(RFSettingsTest, PowerAndFrequencyLinesAreSentAndApplied) {
    StartWith("P,1,-6\nF,2,903.1\n");
    EXPECT_EQ(TakeQueued(), (std::vector<Queued>{
                                {SubGOp::SetOutputPower, 7, {0x00, 0x4F}},
                                {SubGOp::SetFreq, 11, {0x01, 0x87, 0x03, 0x64, 0x00, 0x00}},
                            }));
    EXPECT_EQ(Radio1Power.load(), -6);
    EXPECT_EQ(Radio2Power.load(), 15);
    EXPECT_EQ(SnapshotWorkingParams().RadioFreq, 903.1f);
    EXPECT_EQ(Radio1Freq.load(), 903.1f);
    EXPECT_EQ(Radio2Freq.load(), 903.1f);
    EXPECT_TRUE(WorkingParamsLoaded());
    EXPECT_EQ(ReadyForRTC.load(), 1);

    LoadParams();
    EXPECT_EQ(SnapshotWorkingParams().RadioFreq, 903.1f) << "the frequency was saved";
}

TEST_F(RFSettingsTest, PowersTheBoardDoesNotTakeAndUnknownLinesAreSkipped) {
    StartWith("P,1,16\nP,2,-4\nX,1,5\nP,3,5\nP,1\nP,1,abc\nP,2,-11\n");
    EXPECT_EQ(TakeQueued(), (std::vector<Queued>{{SubGOp::SetOutputPower, 7, {0x01, 0x43}}}));
    EXPECT_EQ(Radio1Power.load(), 15);
    EXPECT_EQ(Radio2Power.load(), -11);
}

TEST_F(RFSettingsTest, AnUnreadableFrequencyStopsTheFile) {
    StartWith("F,1,abc\nP,1,5\n");
    EXPECT_TRUE(TakeQueued().empty());
    EXPECT_EQ(Radio1Power.load(), 15);
    EXPECT_EQ(SnapshotWorkingParams().RadioFreq, 907.0f);
    EXPECT_EQ(ReadyForRTC.load(), 1);
}

TEST_F(RFSettingsTest, AFrequencyNoRadioMayHaveIsSkippedAlone) {
    StartWith("F,1,433.92\nF,2,-5\nP,1,5\n");
    EXPECT_EQ(TakeQueued(), (std::vector<Queued>{{SubGOp::SetOutputPower, 7, {0x00, 0x69}}}));
    EXPECT_EQ(SnapshotWorkingParams().RadioFreq, 907.0f);
    EXPECT_EQ(Radio1Freq.load(), 907.0f);
}

TEST_F(RFSettingsTest, AFrequencyOfTheTableSetsTheWorkingChannel) {
    LoadParams();
    const float europe[] = {868.1f, 868.3f, 868.5f, 868.8f, 868.5f, 869.8f};
    ASSERT_TRUE(ChangeFreqTable(europe, 6));

    StartWith("F,1,868.5\n");
    EXPECT_EQ(SnapshotWorkingParams().WorkingChann, 4) << "the last equal entry";
    EXPECT_EQ(SnapshotWorkingParams().RadioFreq, 868.5f);

    StartWith("F,1,868.3\n");
    EXPECT_EQ(SnapshotWorkingParams().WorkingChann, 1);
    LoadParams();
    EXPECT_EQ(SnapshotWorkingParams().WorkingChann, 1) << "saved";

    StartWith("F,2,869.0\n");
    EXPECT_EQ(SnapshotWorkingParams().WorkingChann, 1) << "not in the table: the channel stays";
    EXPECT_EQ(SnapshotWorkingParams().RadioFreq, 869.0f);
}

TEST_F(RFSettingsTest, WithoutAFileNothingIsSentAndTheStartGoesOn) {
    LoadAndSetRFSettings();
    EXPECT_TRUE(TakeQueued().empty());
    EXPECT_TRUE(WorkingParamsLoaded());
    EXPECT_EQ(access(ParamFilName, F_OK), 0) << "the defaults were saved";
    EXPECT_EQ(ReadyForRTC.load(), 1);
}

// The rest of an over-long line must not come back as a line of its own.
TEST_F(RFSettingsTest, AnOverLongLineIsSkippedWhole) {
    StartWith(std::string(260, ' ') + "P,1,7\nP,2,3\n");
    EXPECT_EQ(Radio1Power.load(), 15);
    EXPECT_EQ(Radio2Power.load(), 3);

    StartWith(std::string(5000, ' ') + "P,1,7\nP,2,4\n");
    EXPECT_EQ(Radio1Power.load(), 15);
    EXPECT_EQ(Radio2Power.load(), 4);

    StartWith("P,1," + std::string(250, '0') + "9\n");
    EXPECT_EQ(Radio1Power.load(), 15) << "a 255-character line is too long";
    StartWith("P,1," + std::string(249, '0') + "9\n");
    EXPECT_EQ(Radio1Power.load(), 9) << "254 characters are read";
}

// Zero-filled blocks after a power cut: the damaged line goes, the next one
// still counts.
TEST_F(RFSettingsTest, ALineWithANulByteIsSkippedAlone) {
    StartWith(std::string("P,1,5\0x\nP,2,3\n", 14));
    EXPECT_EQ(Radio1Power.load(), 15);
    EXPECT_EQ(Radio2Power.load(), 3);
}

// The board asked for its parameters before they were loaded: they go out
// first, then the file's settings, which the radios end with.
TEST_F(RFSettingsTest, TheOwedParameterSetGoesBeforeTheFileSettings) {
    SetSubGAppVersion(10609);
    SetSubGBoardParameters();
    EXPECT_TRUE(TakeQueued().empty());

    StartWith("P,1,-6\n");
    std::vector<Queued> queued = TakeQueued();
    std::vector<int> ops;
    for (const Queued& q : queued) ops.push_back(q.opcode);
    EXPECT_EQ(ops, (std::vector<int>{SubGOp::SetDiagInterval, SubGOp::SetSteadyStateInterval, SubGOp::SetOutputPower,
                                     SubGOp::SetOutputPower, SubGOp::SetRegionAndTable, SubGOp::SetWorkingChannel,
                                     SubGOp::SetOutputPower}));
    EXPECT_EQ(queued[2].data, (Bytes{0x00, 0x7F}));
    EXPECT_EQ(queued.back().data, (Bytes{0x00, 0x4F}));
}

TEST_F(RFSettingsTest, SavedSettingsAreTheExampleLinesAndLoadBack) {
    LoadParams();
    SaveRFSettings();
    EXPECT_EQ(ReadText(RFSettingFilePath), "P,1,15\nP,2,15\nF,1,907.000000\nF,2,907.000000\n");

    Radio1Power = -3;
    Radio2Freq = 915.5f;
    SaveRFSettings();
    EXPECT_EQ(access(".//RF_SettingFile.txt.tmp", F_OK), -1);
    Radio1Power = 15;
    LoadAndSetRFSettings();
    EXPECT_EQ(Radio1Power.load(), -3);
    EXPECT_EQ(SnapshotWorkingParams().RadioFreq, 915.5f) << "the last frequency line wins for both radios";
}

}  // namespace
