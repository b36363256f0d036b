#include "app/status_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/flat_json.h"
#include "support/scratch_dir.h"

namespace {

ReaderStatus SomeStatus() {
    ReaderStatus s;
    s.written = 1714564800;  // 2024-05-01T12:00:00Z
    s.version = "1.2.3";
    s.uptimeSeconds = 3600;
    s.boardConnected = true;
    s.boardVersionsKnown = true;
    s.boardApplication = 0x01060A00;
    s.rtcState = "paired";
    s.rtcAddress = "10.0.0.2:53010";
    s.recordsWaiting = 12;
    s.packagesQueued = 1;
    s.recordsLastMinute = 600;
    s.lastBackupWrite = 1714564790;
    s.backupBytesWritten = 35000123;
    // What a log line may carry: quotes, backslashes, a line end, bytes of
    // a broken file name and UTF-8.
    s.lastError = {"LoadAndSetRFSettings: invalid frequency \"8\\68\"\n\xff\x01 caf\xc3\xa9", 1714564795};
    return s;
}

TEST(StatusFile, EveryFieldReadsBackAsWrittenAndWhatNeverHappenedIsNull) {
    std::vector<FlatJsonField> fields;
    ASSERT_TRUE(ParseFlatJson(StatusJson(SomeStatus()), &fields));
    std::string shown;
    for (const FlatJsonField& f : fields) shown += f.key + "=" + (f.isText ? "'" + f.value + "'" : f.value) + "\n";
    EXPECT_EQ(shown,
              "written='2024-05-01T12:00:00Z'\n"
              "version='1.2.3'\n"
              "uptime_seconds=3600\n"
              "board_connected=true\n"
              "board_application='1.6.10.0'\n"
              "board_boot_loader='0.0.0.0'\n"
              "board_boot_rom='0.0.0.0'\n"
              "rtc_state='paired'\n"
              "rtc_address='10.0.0.2:53010'\n"
              "records_waiting=12\n"
              "packages_queued=1\n"
              "records_last_minute=600\n"
              "last_acknowledgement=null\n"
              "last_backup_write='2024-05-01T11:59:50Z'\n"
              "backup_bytes_written=35000123\n"
              "last_error='" + SomeStatus().lastError.text + "'\n"
              "last_error_time='2024-05-01T11:59:55Z'\n");
}

struct PrintCase {
    const char* what;
    const char* content;  // nullptr: no file
    int status;
    const char* out;
    const char* err;  // the start of what standard error shows
};

TEST(StatusFile, StatusPrintsTheFieldsOrSaysWhyNot) {
    const PrintCase cases[] = {
        {"fields", "{\"version\": \"1.2.3\",\n \"board_connected\": true, \"last_error\": null}\n", 0,
         "version:         1.2.3\nboard_connected: true\nlast_error:      none\n", ""},
        {"no file", nullptr, 1, "", "Tarnel: no status in "},
        {"cut short", "{\"version\": \"1.2", 1, "", "Tarnel: "},
        {"not ours", "version=1.2.3\n", 1, "", "Tarnel: "},
    };
    for (const PrintCase& c : cases) {
        ScratchDir dir("status_test_");
        const std::string path = dir.Path() + "/status.json";
        if (c.content) std::ofstream(path) << c.content;
        const std::string outPath = dir.Path() + "/out", errPath = dir.Path() + "/err";
        FILE* out = std::fopen(outPath.c_str(), "w");
        FILE* err = std::fopen(errPath.c_str(), "w");
        EXPECT_EQ(PrintStatusFile(path.c_str(), out, err), c.status) << c.what;
        std::fclose(out);
        std::fclose(err);
        auto read = [](const std::string& p) {
            std::ifstream in(p);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        EXPECT_EQ(read(outPath), c.out) << c.what;
        EXPECT_EQ(read(errPath).rfind(c.err, 0), 0u) << c.what << ": " << read(errPath);
    }
}

TEST(StatusFile, RecordsOfTheLastMinuteAreTheGrowthOverItsSamples) {
    constexpr long long kSecond = 1000000;
    MinuteIncrease records;
    // 10 records a second, sampled every 10 s from the start.
    for (int s = 0; s <= 30; s += 10) records.Sample(s * kSecond, 10u * s);
    EXPECT_EQ(records.LastMinute(), 300u) << "younger than a minute: since the start";
    for (int s = 40; s <= 300; s += 10) records.Sample(s * kSecond, 10u * s);
    EXPECT_EQ(records.LastMinute(), 600u);
    records.Sample(310 * kSecond, 3000);  // the traffic stopped
    EXPECT_EQ(records.LastMinute(), 500u);
}

}  // namespace
