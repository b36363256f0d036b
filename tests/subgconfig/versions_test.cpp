#include "subgconfig/versions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/reply_table.h"
#include "params/working_params.h"
#include "subg/link_buffers.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "subg/scheduler.h"
#include "subg/serial_parser.h"
#include "support/scratch_dir.h"

namespace {

class VersionsTest : public ::testing::Test {
protected:
    void SetUp() override { SetReplyDispatch(BoardReplyDispatch()); }

    static void Deliver(uint8_t opcode, const std::vector<uint8_t>& data) {
        T7734FrameReply frame = MakeReply(opcode, data.data(), data.size());
        uint8_t wire[kMaxFrameLen];
        size_t n = ReplyToWire(frame, wire, sizeof(wire));
        pthread_mutex_lock(&TxMutex);
        PutMsgInQ(wire, static_cast<int>(n));
        ParseInboundQueue();
        pthread_mutex_unlock(&TxMutex);
    }

    static std::vector<int> PendingOpcodes() {
        std::vector<int> ops;
        T7734FrameRequest out;
        while (PendingSubGRequests() > 0 && GetNextSubGBReq(&out)) ops.push_back(out.opcode);
        return ops;
    }

    // As the main thread writes it.
    static std::string VersionFile() {
        SaveSubGBoardAppVersToFile();
        std::ifstream in(kSubGVersionFilePath);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    ScratchDir workingDir_{"tarnel-versions-", ScratchDir::Cwd::Enter};
};

TEST_F(VersionsTest, OldBoardSoftwareGetsItsRecordBuiltByTheHost) {
    Deliver(SubGOp::GetSWVersion, {1, 6, 9});
    EXPECT_EQ(CurrentSubGAppVersion(), 10609u);
    EXPECT_EQ(SubGBoardConnected, 1);
    const SubGBoardGVTSnapshot gvt = SnapshotSubGBoardGVT();
    EXPECT_EQ(gvt.bytes[0], kHostBuiltGVTFormat);
    EXPECT_EQ(gvt.ApplicationVersion(), 0x01060900u);
    EXPECT_EQ(GVTUpdated, 1);
    EXPECT_EQ(ParamsUpdated, 1);
    EXPECT_EQ(VersionFile(),
              "SubGBoard Bootrom: 0.0.0.0\n"
              "SubGBoard Bootloader: 0.0.0.0\n"
              "SubGBoard Application: 1.6.9.0\n"
              "Tarnel version: " + std::string(kTarnelVersionText) + "\n");
    for (int op : PendingOpcodes()) EXPECT_NE(op, SubGOp::GetServiceInfo);
}

TEST_F(VersionsTest, NewBoardSoftwareIsAskedForItsRecordOnConnection) {
    Deliver(SubGOp::GetSWVersion, {1, 6, 10});
    EXPECT_EQ(CurrentSubGAppVersion(), 10610u);
    EXPECT_EQ(GVTUpdated, 0);
    EXPECT_EQ(access(kSubGVersionFilePath, F_OK), -1);
    EXPECT_EQ(PendingOpcodes(), std::vector<int>{SubGOp::GetServiceInfo});

    std::vector<uint8_t> gvt(kGVTSize, 0);
    gvt[0] = 7;
    gvt[31] = 2, gvt[30] = 1;                  // boot ROM 2.1.0.0
    gvt[27] = 1, gvt[26] = 3, gvt[25] = 5;     // boot loader 1.3.5.0
    gvt[21] = 1, gvt[20] = 6, gvt[19] = 10;    // application 1.6.10.0
    Deliver(SubGOp::GetServiceInfo, gvt);
    EXPECT_EQ(GVTUpdated, 1);
    EXPECT_EQ(SnapshotSubGBoardGVT().bytes[0], 7);
    EXPECT_EQ(VersionFile(),
              "SubGBoard Bootrom: 2.1.0.0\n"
              "SubGBoard Bootloader: 1.3.5.0\n"
              "SubGBoard Application: 1.6.10.0\n"
              "Tarnel version: " + std::string(kTarnelVersionText) + "\n");
}

TEST_F(VersionsTest, TheSameVersionAgainOnlyReconnects) {
    Deliver(SubGOp::GetSWVersion, {1, 6, 9});
    std::remove(kSubGVersionFilePath);
    GVTUpdated = 0;
    SubGBoardConnected = 0;
    Deliver(SubGOp::GetSWVersion, {1, 6, 9});
    EXPECT_EQ(SubGBoardConnected, 1);
    EXPECT_EQ(GVTUpdated, 0) << "nothing rebuilt";
    EXPECT_EQ(access(kSubGVersionFilePath, F_OK), -1) << "nothing rewritten";
}

TEST_F(VersionsTest, VersionZeroConnectsWithoutARecord) {
    Deliver(SubGOp::GetSWVersion, {0, 0, 0});
    EXPECT_EQ(CurrentSubGAppVersion(), 0u);
    EXPECT_EQ(SubGBoardConnected, 1);
    EXPECT_EQ(GVTUpdated, 0);
    EXPECT_TRUE(PendingOpcodes().empty());
}

TEST_F(VersionsTest, AShortServiceInformationReplyChangesNothing) {
    const uint64_t before = SnapshotSubGBoardGVT().stored;
    Deliver(SubGOp::GetServiceInfo, std::vector<uint8_t>(32, 9));
    EXPECT_EQ(GVTUpdated, 0);
    EXPECT_EQ(SnapshotSubGBoardGVT().stored, before);
}

// The parser stores records while the backbone copies them: a copy is one
// whole record or the other, never part of each.
TEST_F(VersionsTest, ACopyOfTheRecordIsAlwaysOneWholeRecord) {
    ParseSubGServiceInfo(std::vector<uint8_t>(kGVTSize, 0x22).data());
    std::atomic<bool> done{false};
    std::thread parser([&] {
        for (int i = 0; i < 5000; ++i) ParseSubGServiceInfo(std::vector<uint8_t>(kGVTSize, i % 2 ? 0x11 : 0x22).data());
        done = true;
    });
    bool whole = true;
    while (!done && whole) {
        const SubGBoardGVTSnapshot copy = SnapshotSubGBoardGVT();
        for (int i = 1; i < kGVTSize; ++i) whole &= copy.bytes[i] == copy.bytes[0];
    }
    parser.join();
    EXPECT_TRUE(whole);
}

TEST_F(VersionsTest, AVersionKnownBeforeTheLoadEndsUpInTheFile) {
    Deliver(SubGOp::GetSWVersion, {1, 6, 10});
    LoadParams();
    EXPECT_EQ(CurrentSubGAppVersion(), 10610u);
    std::ifstream in(ParamFilName, std::ios::binary);
    uint8_t bytes[kWorkingParamsSize];
    ASSERT_TRUE(in.read(reinterpret_cast<char*>(bytes), sizeof(bytes)));
    WorkingParamsSt stored;
    DecodeWorkingParams(bytes, &stored);
    EXPECT_EQ(stored.SubGAppVersion, 10610u);
}

}  // namespace
