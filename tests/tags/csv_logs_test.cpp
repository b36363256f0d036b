#include "tags/csv_logs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "app/options.h"
#include "platform/paths.h"
#include "support/scratch_dir.h"

namespace {

std::atomic<time_t> FakeNow{1796617261};  // Mon Dec  7 04:21:01 2026 UTC
time_t FakeClock() { return FakeNow; }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

class CsvLogs : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
        SetNowSecondsSource(FakeClock);
        ASSERT_LT(dir_.Path().size(), sizeof(LogDir));
        std::strcpy(LogDir, dir_.Path().c_str());
    }
    void TearDown() override { SetNowSecondsSource(nullptr); }

    std::string Path(CsvLog log) const { return CsvLogPath(log, dir_.Path().c_str(), FakeNow); }

    ScratchDir dir_{"tg"};
};

TEST_F(CsvLogs, TheParserOpensItsThreeLogsInTheLogDirectory) {
    OpenParserLogs();
    EXPECT_EQ(ReadFile(Path(CsvLog::TagsActivity)), CsvLogHeader(CsvLog::TagsActivity));
    EXPECT_TRUE(Exists(Path(CsvLog::Diag)));
    EXPECT_EQ(ReadFile(Path(CsvLog::Diag)), "");
    EXPECT_EQ(ReadFile(Path(CsvLog::TagDiag)), CsvLogHeader(CsvLog::TagDiag));
    EXPECT_TRUE(CsvLogOpen(CsvLog::TagsActivity));
    EXPECT_TRUE(CsvLogOpen(CsvLog::Diag));
    EXPECT_TRUE(CsvLogOpen(CsvLog::TagDiag));
    EXPECT_FALSE(Exists(Path(CsvLog::TagParam))) << "opened by its first row only";
}

// A restart, or a new test run, within the minute finds the minute's files
// already there: their rows stay, and a header goes only into an empty file.
TEST_F(CsvLogs, EveryLogOpenedAgainWithinTheMinuteKeepsItsRowsAndHeader) {
    std::string before[kCsvLogCount];
    for (int i = 0; i < kCsvLogCount; ++i) {
        const CsvLog log = static_cast<CsvLog>(i);
        const char* header = CsvLogHeader(log);
        before[i] = std::string(header ? header : "") + "earlier\n";
        std::ofstream(Path(log)) << before[i];
    }
    OpenParserLogs();
    OpenRSSIFile();
    OpenPERTestFile();
    for (int i = 0; i < kCsvLogCount; ++i) {
        const CsvLog log = static_cast<CsvLog>(i);
        WriteCsvRow(log, "next\n");
        EXPECT_EQ(ReadFile(Path(log)), before[i] + "next\n") << "log " << i;
    }
}

TEST_F(CsvLogs, TheActivityLogTakesTheCommandLinePathAndAHeaderOnlyWhenEmpty) {
    std::string given = dir_.Path() + "/given.csv";
    std::string empty = dir_.Path() + "/empty.csv";
    std::ofstream(given) << "old rows\n";
    std::ofstream(empty) << "";
    for (const std::string& path : {given, empty}) {
        std::strcpy(LogFile, path.c_str());
        OpenTagsActFile();
        WriteCsvRow(CsvLog::TagsActivity, "row\n");
    }
    EXPECT_EQ(ReadFile(given), "old rows\nrow\n");
    EXPECT_EQ(ReadFile(empty), std::string(CsvLogHeader(CsvLog::TagsActivity)) + "row\n");
    EXPECT_FALSE(Exists(Path(CsvLog::TagsActivity)));
}

TEST_F(CsvLogs, LazyLogsAreOpenedByTheirFirstRow) {
    for (CsvLog log : {CsvLog::TagParam, CsvLog::MEMSCalc, CsvLog::RawData}) {
        EXPECT_FALSE(CsvLogOpen(log));
        WriteCsvRow(log, "one\n");
        WriteCsvRow(log, "two\n");
        EXPECT_EQ(ReadFile(Path(log)), std::string(CsvLogHeader(log)) + "one\ntwo\n");
    }
}

TEST_F(CsvLogs, ALazyLogThatCouldNotBeOpenedIsTriedAgainAtTheNextRow) {
    std::string sub = dir_.Path() + "/x";
    std::strcpy(LogDir, sub.c_str());
    WriteCsvRow(CsvLog::RawData, "lost\n");
    EXPECT_FALSE(CsvLogOpen(CsvLog::RawData));
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    WriteCsvRow(CsvLog::RawData, "kept\n");
    EXPECT_EQ(ReadFile(CsvLogPath(CsvLog::RawData, sub.c_str(), FakeNow)),
              std::string(CsvLogHeader(CsvLog::RawData)) + "kept\n");
}

TEST_F(CsvLogs, APERTestRunCountsFromZeroAndEndsWithItsLog) {
    PacketCounter = 5;
    WriteCsvRow(CsvLog::PERTest, "before\n");
    EXPECT_FALSE(Exists(Path(CsvLog::PERTest))) << "a closed log skips its rows";
    OpenPERTestFile();
    EXPECT_EQ(PacketCounter, 0u);
    WriteCsvRow(CsvLog::PERTest, "during\n");
    EXPECT_EQ(ClosePERTest(), 0);
    WriteCsvRow(CsvLog::PERTest, "after\n");
    EXPECT_EQ(ReadFile(Path(CsvLog::PERTest)), "during\n");
    EXPECT_EQ(ClosePERTest(), 0) << "closing a closed log";
}

TEST_F(CsvLogs, ANewRSSIRunOpensANewFileAndClosesTheOld) {
    OpenRSSIFile();
    std::string first = Path(CsvLog::RSSI);
    WriteCsvRow(CsvLog::RSSI, "a\n");
    FakeNow = FakeNow + 60;
    OpenRSSIFile();
    WriteCsvRow(CsvLog::RSSI, "b\n");
    EXPECT_EQ(CloseRSSIFile(), 0);
    EXPECT_FALSE(CsvLogOpen(CsvLog::RSSI));
    EXPECT_EQ(ReadFile(first), "a\n");
    EXPECT_EQ(ReadFile(Path(CsvLog::RSSI)), "b\n");
    EXPECT_EQ(CloseRSSIFile(), 0);
}

TEST_F(CsvLogs, ALogPastItsSizeGoesOnInAFileOfTheNewMinute) {
    OpenParserLogs();
    const std::string first = Path(CsvLog::TagsActivity);
    const std::string header = CsvLogHeader(CsvLog::TagsActivity);
    WriteCsvRow(CsvLog::TagsActivity, "a\n");
    const long long bytes = static_cast<long long>(header.size()) + 2;
    FakeNow = FakeNow + 60;
    RollOverCsvLogs(bytes + 1);  // not past the size yet
    WriteCsvRow(CsvLog::TagsActivity, "b\n");
    RollOverCsvLogs(bytes + 1);
    WriteCsvRow(CsvLog::TagsActivity, "c\n");
    EXPECT_EQ(ReadFile(first), header + "a\nb\n");
    EXPECT_EQ(ReadFile(Path(CsvLog::TagsActivity)), header + "c\n");
    EXPECT_FALSE(Exists(Path(CsvLog::Diag))) << "a log below the size stays in its file";
}

// On a full card the rows go on into the old file: a closed activity log
// would drop the tags' records.
TEST_F(CsvLogs, ALogWithoutRoomForANewFileStaysInItsOld) {
    OpenTagsActFile();
    const std::string first = Path(CsvLog::TagsActivity);
    std::strcpy(LogDir, (dir_.Path() + "/gone").c_str());
    FakeNow = FakeNow + 60;
    RollOverCsvLogs(1);
    WriteCsvRow(CsvLog::TagsActivity, "kept\n");
    EXPECT_TRUE(CsvLogOpen(CsvLog::TagsActivity));
    EXPECT_EQ(ReadFile(first), std::string(CsvLogHeader(CsvLog::TagsActivity)) + "kept\n");
}

// The console opens and closes the PER log while the parser writes to it:
// rows land whole in whichever file is open, never in a closed stream.
TEST_F(CsvLogs, RowsNeverMeetAClosingStream) {
    const std::string row = "1796617261, 654, 16909060, 7, -65\n";
    std::atomic<bool> stop{false};
    std::thread parser([&] {
        for (int i = 0; i < 200000 && !stop; ++i) WriteCsvRow(CsvLog::PERTest, row);
    });
    for (int i = 0; i < 200; ++i) {
        OpenPERTestFile();
        ClosePERTest();
    }
    stop = true;
    parser.join();
    std::string text = ReadFile(Path(CsvLog::PERTest));
    ASSERT_EQ(text.size() % row.size(), 0u);
    for (size_t at = 0; at < text.size(); at += row.size()) ASSERT_EQ(text.compare(at, row.size(), row), 0);
}

}  // namespace
