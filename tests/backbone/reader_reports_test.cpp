#include "backbone/reader_reports.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "backbone/backbone_iface.h"
#include "backbone/backbone_thread.h"
#include "backbone/msg_queue.h"
#include "params/working_params.h"
#include "subgconfig/freq_coding.h"
#include "subgconfig/frequencies.h"
#include "subgconfig/versions.h"
#include "support/scratch_dir.h"

namespace {

void Touch(const std::string& name, const std::string& text = "") { std::ofstream(name) << text; }

// Polls a condition that another thread makes true, for at most ten seconds.
template <typename Condition>
bool WithinTenSeconds(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(ReaderReports, VersionBlockByteByByte) {
    uint8_t gvt[kGVTSize];
    for (int i = 0; i < kGVTSize; ++i) gvt[i] = static_cast<uint8_t>(0xA0 + i);
    const std::string block = BuildVersionBlock(gvt, 0x01020304, 0xBB, 0xCC);
    ASSERT_EQ(block.size(), 103u);
    std::vector<int> expected(103, 0);
    const std::vector<std::pair<int, int>> fixed = {{0, 6},   {9, 1},   {10, 1},  {18, 4},  {19, 3},  {20, 2},
                                                    {21, 1},  {32, 2},  {33, 1},  {34, 26}, {35, 6},  {44, 1},
                                                    {45, 1},  {54, 11}, {55, 9},  {56, 1},  {57, 0xCC}, {58, 0xBB},
                                                    {68, 2},  {69, 20}};
    for (auto [at, value] : fixed) expected[at] = value;
    for (int k = 1; k <= 8; ++k) expected[k] = expected[35 + k] = gvt[k];
    for (int k = 15; k <= 17; ++k) expected[k] = expected[35 + k] = gvt[k];
    for (int k = 0; k < kGVTSize; ++k) expected[70 + k] = gvt[k];
    for (int i = 0; i < 103; ++i) EXPECT_EQ(static_cast<uint8_t>(block[i]), expected[i]) << "byte " << i;
}

TEST(ReaderReports, ResetCountFile) {
    ScratchDir dir("reset_count", ScratchDir::Cwd::Enter);
    const struct {
        const char* text;  // nullptr: no file
        int count;
    } cases[] = {{"12\n", 12}, {"9999999999\n", -1}, {"3000000000", -1}, {nullptr, -1}, {"", -1}};
    for (const auto& c : cases) {
        std::remove(ResetCounterFilePath);
        if (c.text) Touch(ResetCounterFilePath, c.text);
        EXPECT_EQ(GetResetCount(), c.count) << (c.text ? c.text : "no file");
    }
}

TEST(ReaderReports, SignatureFileNames) {
    const struct {
        const char* name;
        int found;
        uint32_t version;
        uint8_t numbers[2];
    } cases[] = {
        {"RD1_A_01_01020304_0507.signature", 1, 0x01020304, {5, 7}},
        {"RD1_A_01_0102.signature", 1, 0x01020000, {0, 0}},            // too short for the numbers
        {"RD2_A_01_09080706_1112.signature", 1, 0x09080706, {0, 0}},   // another prefix: version only
        {"x.signature", 0, 0, {0, 0}},                                 // too short for a version
        {"package_without_prefix.signature", 0, 0, {0, 0}},
        {"RD1_A_01_01020304_0507.txt", 0, 0, {0, 0}},
    };
    for (const auto& c : cases) {
        ScratchDir dir("signature", ScratchDir::Cwd::Enter);
        Touch(c.name);
        CheckSumSt numbers{};
        uint32_t version = 0;
        EXPECT_EQ(FindSignatureFile(&numbers, &version), c.found) << c.name;
        EXPECT_EQ(version, c.version) << c.name;
        EXPECT_EQ(numbers.bytes[0], c.numbers[0]) << c.name;
        EXPECT_EQ(numbers.bytes[1], c.numbers[1]) << c.name;
    }
}

TEST(ReaderReports, OfTwoSignatureFilesTheFirstInDirectoryOrderCounts) {
    ScratchDir dir("signature", ScratchDir::Cwd::Enter);
    Touch("RD1_A_01_01010101_0101.signature");
    Touch("RD1_A_01_02020202_0202.signature");
    std::string first;
    DIR* d = opendir(".");
    while (dirent* e = readdir(d)) {
        if (first.empty() && std::string(e->d_name).find(".signature") != std::string::npos) first = e->d_name;
    }
    closedir(d);
    CheckSumSt numbers{};
    uint32_t version = 0;
    ASSERT_EQ(FindSignatureFile(&numbers, &version), 1);
    EXPECT_EQ(version, first[10] == '1' ? 0x01010101u : 0x02020202u);
}

TEST(ReaderReports, ReaderDiagLineHasElevenValuesAndTenNA) {
    ZemloReaderDiagnosticsInformation d;
    d.set_rssi_noise(static_cast<uint32_t>(-82));
    d.set_total_packets_received(5000000000ULL);
    d.set_user_space_application_crash_counter(static_cast<uint32_t>(-1));
    EXPECT_EQ(FormatReaderDiagColumns(d),
              ", 0, 0, 0, -82, 0, -1, 0, 5000000000, 0, 0, 0, NA, NA, NA, NA, NA, NA, NA, NA, NA, NA\n");
}

// Parameters from the RTC: what the reader cannot use is refused and the
// current value stays; what the RTC left out stays too.
class RtcParams : public ::testing::Test {
protected:
    RtcParams() : dir_("rtc_params", ScratchDir::Cwd::Enter) {
        LoadParams();
        ChangeFreqTable(BackwardCompatChannArray[0], 15);
        SetWorkingChann(4);
    }
    ScratchDir dir_;
    OutgoingQueue queue_;
    BackBoneIface link_{queue_};
};

TEST_F(RtcParams, ReaderParameters) {
    // What the message carries (nothing where empty), then what the reader keeps.
    const struct {
        const char* what;
        std::optional<uint32_t> workingChannel;
        std::optional<uint32_t> keepAliveInterval;
        std::optional<RFRegionEnum::RFRegion> region;
        std::vector<float> freqTable;
        int32_t channel;
        float freq;
        int tableLen;
        int32_t keepAlive;
    } cases[] = {
        {"channel 1", 1, {}, {}, {}, 0, 907.0f, 15, 3},
        {"channel 0", 0, {}, {}, {}, 4, 911.4f, 15, 3},
        {"channel 16", 16, {}, {}, {}, 4, 911.4f, 15, 3},
        {"keep-alive 7", {}, 7, {}, {}, 4, 911.4f, 15, 7},
        {"keep-alive 0", {}, 0, {}, {}, 4, 911.4f, 15, 1},
        {"keep-alive 4294967295", {}, 4294967295u, {}, {}, 4, 911.4f, 15, 3600},
        {"Europe, channel 2", 2, {}, RFRegionEnum::Europe, {}, 1, 868.3f, 6, 3},
        {"Israel, channel 6", 6, {}, RFRegionEnum::Israel, {}, 4, 916.3f, 5, 3},  // channel 5 of the new table
        {"table 868.1 100, channel 2", 2, {}, {}, {868.1f, 100.0f}, 1, 908.1f, 15, 3},
    };
    for (const auto& c : cases) {
        ChangeFreqTable(BackwardCompatChannArray[0], 15);
        SetWorkingChann(4);
        SetKeepAlive(3);
        RtcSetReaderParameters msg;
        ZemloReaderParametersInformation* info = msg.mutable_reader_params_info();
        if (c.workingChannel) info->set_working_channel(*c.workingChannel);
        if (c.keepAliveInterval) info->set_keep_alive_interval(*c.keepAliveInterval);
        if (c.region) info->set_rf_region(*c.region);
        for (float freq : c.freqTable) info->add_radio_frequency_table(freq);
        link_.ParseReaderParams(msg);
        const WorkingParamsSt p = SnapshotWorkingParams();
        EXPECT_EQ(p.WorkingChann, c.channel) << c.what;
        EXPECT_EQ(p.RadioFreq, c.freq) << c.what;
        EXPECT_EQ(SnapshotChanArray().size(), static_cast<size_t>(c.tableLen)) << c.what;
        EXPECT_EQ(p.KeepAlive, c.keepAlive) << c.what;
        EXPECT_EQ(p.FreqChDelay, 10) << c.what;
        EXPECT_EQ(p.SteadyStateInterval, 300u) << c.what << ": not the reader's to change";
    }
}

TEST_F(RtcParams, TagParametersChangeOnlyWhatTheyCarry) {
    SetSteadyStateIntervalProc(60);
    RFTagParametersInformation info;
    info.set_steady_state_interval(5);
    link_.ParseTagParams(info);
    EXPECT_EQ(SnapshotWorkingParams().SteadyStateInterval, 300u);
    EXPECT_EQ(SnapshotWorkingParams().WorkingChann, 4) << "no channel in the message";

    info.Clear();
    info.set_steady_state_interval(7);
    info.set_working_channel_index(16);
    info.set_site_id(42);
    link_.ParseTagParams(info);
    const WorkingParamsSt p = SnapshotWorkingParams();
    EXPECT_EQ(p.SteadyStateInterval, 420u);
    EXPECT_EQ(p.WorkingChann, 4) << "channel 16 of 15 refused";
    EXPECT_EQ(p.SiteID, 42);
}

// The survey hands its progress over on the serial parser thread, with the
// link's locks held. The backbone holds the package's lock while a save of
// a large queue keeps it waiting for seconds; the hand-over must not wait.
TEST(ReaderReports, SurveyProgressIsHandedOverWhileThePackageIsHeld) {
    OutgoingQueue queue;
    BackBoneIface link(queue);
    std::unique_lock<std::mutex> packageHeld(ReaderPackMutex);
    std::promise<void> handed;
    std::future<void> over = handed.get_future();
    std::thread survey([&] {
        link.UpdateChannScanProgress(2, 50, 16, 6);
        handed.set_value();
    });
    const bool inTime = over.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    packageHeld.unlock();
    survey.join();
    EXPECT_TRUE(inTime);
}

// A parameter that changes while its report is being built is reported
// again with the next pass, not lost behind the report.
TEST_F(RtcParams, AChangeWhileTheReportIsBuiltIsReportedNext) {
    GVTUpdated = 1;
    RTCConnected = 1;
    ParamsUpdated = 1;
    // The report reads the parameters, then waits here for the package.
    std::unique_lock<std::mutex> packageHeld(ReaderPackMutex);
    std::thread backbone([this] { ForwardReports(&link_); });
    const bool reportBegun = WithinTenSeconds([] { return ParamsUpdated == 0; });
    if (reportBegun) SetSiteID(7);
    packageHeld.unlock();
    backbone.join();
    ASSERT_TRUE(reportBegun) << "the report took its flag";
    EXPECT_EQ(ParamsUpdated.load(), 1);
}

}  // namespace
