#include "subgconfig/mems_params.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "platform/paths.h"
#include "support/scratch_dir.h"

namespace {

constexpr uint8_t kStartCollect = 44, kSetParams = 45, kStopCollect = 46, kStopSetParams = 47;

class MEMSParams : public ::testing::Test {
protected:
    void SetUp() override { std::strcpy(LogDir, dir_.Path().c_str()); }

    std::string FilePath() const { return dir_.Path() + "/MEMS_Param.txt"; }
    void WriteFile(const std::string& text) const { std::ofstream(FilePath()) << text; }

    // One scheduler pass; returns the requests it queued, in order, and
    // settles them so that the next pass may queue the same again.
    static std::vector<T7734FrameRequest> Pass() {
        RefreshMEMSParamFile();
        NeedToChangeMEMSParam();
        UpdateMEMSFiletrParams();
        std::vector<T7734FrameRequest> queued;
        T7734FrameRequest request;
        while (PendingSubGRequests() > 0 && GetNextSubGBReq(&request)) {
            queued.push_back(request);
            RMSubGRequest(MakeReply(request.opcode));
        }
        return queued;
    }

    static std::vector<uint8_t> Opcodes(const std::vector<T7734FrameRequest>& requests) {
        std::vector<uint8_t> ops;
        for (const auto& r : requests) ops.push_back(r.opcode);
        return ops;
    }

    ScratchDir dir_{"tg"};
};

TEST_F(MEMSParams, WithoutAFileBothModesAreStopped) {
    EXPECT_EQ(Opcodes(Pass()), (std::vector<uint8_t>{kStopCollect, kStopSetParams}));
    EXPECT_EQ(CollectMEMS, 0);
    EXPECT_EQ(StepRecogTimeout, 255);
    EXPECT_EQ(MinNumOfAccelExceptions, 0);
}

TEST_F(MEMSParams, CollectOnlyCollectsOnEveryPass) {
    WriteFile("collect\n");
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(Opcodes(Pass()), (std::vector<uint8_t>{kStopSetParams, kStartCollect}));
        EXPECT_EQ(CollectMEMS, 1);
        EXPECT_EQ(StepRecogTimeout, 255) << "no parameters: the hourly flip leaves it alone";
        EXPECT_EQ(MinNumOfAccelExceptions, 0);
    }
}

TEST_F(MEMSParams, ParametersAreCollectedFirstThenSetAfterTheFlip) {
    WriteFile("20,3\n");
    EXPECT_EQ(Opcodes(Pass()), (std::vector<uint8_t>{kStopSetParams, kStartCollect}));
    EXPECT_EQ(StepRecogTimeout, 20);
    EXPECT_EQ(MinNumOfAccelExceptions, 3);
    CollectMEMS = 0;  // the scheduler's hourly flip
    std::vector<T7734FrameRequest> set = Pass();
    ASSERT_EQ(Opcodes(set), (std::vector<uint8_t>{kStopCollect, kSetParams}));
    EXPECT_EQ(set[1].length, 11);
    EXPECT_EQ(std::vector<uint8_t>(set[1].data, set[1].data + 6), (std::vector<uint8_t>{3, 20, 0, 0, 0, 0}));
    EXPECT_EQ(CollectMEMS, 0) << "the same line again does not restart collecting";
    WriteFile("300,2\n");
    EXPECT_EQ(Opcodes(Pass()), (std::vector<uint8_t>{kStopSetParams, kStartCollect})) << "a new line restarts";
    CollectMEMS = 0;
    set = Pass();
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(set[1].data, set[1].data + 6), (std::vector<uint8_t>{2, 0x2C, 0x01, 0, 0, 0}))
        << "step recognition time slot little-endian";
}

TEST_F(MEMSParams, OnlyTheLowEightBitsOfTheMinimumRemain) {
    WriteFile("20,300\n");
    Pass();
    EXPECT_EQ(MinNumOfAccelExceptions, 44);
    EXPECT_EQ(StepRecogTimeout, 20);
}

TEST_F(MEMSParams, ALineOfSixteenCharactersOrWithANulByteIsIgnored) {
    WriteFile("1234567890123456\n");
    EXPECT_EQ(Opcodes(Pass()), (std::vector<uint8_t>{kStopCollect, kStopSetParams}));
    EXPECT_EQ(StepRecogTimeout, 255);
    WriteFile("12345,12345678\n");  // 15 with its line break
    Pass();
    EXPECT_EQ(StepRecogTimeout, 12345);
    EXPECT_EQ(MinNumOfAccelExceptions, 12345678 & 0xFF);
    WriteFile(std::string("20,3\0\0\n", 7));  // zero-filled after a power cut
    Pass();
    EXPECT_EQ(StepRecogTimeout, 255);
}

TEST_F(MEMSParams, AnEmptyFileIsDeletedAndCollectingStops) {
    WriteFile("collect\n");
    Pass();
    ASSERT_EQ(CollectMEMS, 1);
    WriteFile("");
    EXPECT_EQ(Opcodes(Pass()), (std::vector<uint8_t>{kStopCollect, kStopSetParams}));
    EXPECT_EQ(CollectMEMS, 0);
    EXPECT_NE(access(FilePath().c_str(), F_OK), 0);
}

TEST_F(MEMSParams, DeletingTheFileStopsBothModes) {
    WriteFile("collect\n");
    Pass();
    ASSERT_EQ(unlink(FilePath().c_str()), 0);
    EXPECT_EQ(Opcodes(Pass()), (std::vector<uint8_t>{kStopCollect, kStopSetParams}));
    EXPECT_EQ(CollectMEMS, 0);
}

TEST(MEMSLine, Forms) {
    MEMSLineRequest r = ParseMEMSLine("please collect\n");
    EXPECT_TRUE(r.collect);
    r = ParseMEMSLine("20,3\n");
    EXPECT_EQ(r.parts, 2);
    EXPECT_EQ(r.stepRecogTimeout, 20);
    EXPECT_EQ(r.minNumOfAccelExceptions, 3);
    r = ParseMEMSLine("70000,1");
    EXPECT_EQ(r.stepRecogTimeout, 70000 & 0xFFFF);
    r = ParseMEMSLine("20,x\n");
    EXPECT_EQ(r.stepRecogTimeout, 20);
    EXPECT_EQ(r.minNumOfAccelExceptions, 0) << "a part that is no number stays at none";
    r = ParseMEMSLine("x,3\n");
    EXPECT_EQ(r.stepRecogTimeout, 255);
    EXPECT_EQ(r.minNumOfAccelExceptions, 0) << "the second is not read when the first fails";
    r = ParseMEMSLine("99999999999999999999,3");
    EXPECT_EQ(r.stepRecogTimeout, 255);
    EXPECT_EQ(r.minNumOfAccelExceptions, 0);
    r = ParseMEMSLine("20,3,4\n");
    EXPECT_EQ(r.parts, 3);
    EXPECT_EQ(r.stepRecogTimeout, 255);
    r = ParseMEMSLine(",,20,,3,\n");
    EXPECT_EQ(r.parts, 3) << "empty parts do not count; the line break is a part of its own";
    r = ParseMEMSLine("hello\n");
    EXPECT_EQ(r.parts, 1);
    EXPECT_FALSE(r.collect);
    EXPECT_EQ(r.stepRecogTimeout, 255);
}

}  // namespace
