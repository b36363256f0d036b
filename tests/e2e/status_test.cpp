// The status file a technician reads, through a running daemon paired with
// the RTC simulator while tags flow: it appears in the RAM directory
// (/var/run/tarnel, which the sandbox keeps in DIR/run), is valid JSON with
// every field, is rewritten as the daemon runs, and `Tarnel --status`
// prints it.
#include <google/protobuf/struct.pb.h>
#include <google/protobuf/util/json_util.h>
#include <gtest/gtest.h>

#include <dirent.h>

#include <iostream>
#include <string>
#include <vector>

#include "params/program_version.h"
#include "rtc_record.h"

namespace {

constexpr int kBound = 90;

// Parsed by the message library's JSON reader, which knows nothing of the
// daemon's writer: false unless the file is whole, valid JSON.
bool ReadStatus(const SandboxRun& run, google::protobuf::Struct* status) {
    const std::string text = ReadFile(run.Dir() + "/run/tarnel/status.json");
    status->Clear();
    return !text.empty() && google::protobuf::util::JsonStringToMessage(text, status).ok();
}

const google::protobuf::Value& Field(const google::protobuf::Struct& status, const std::string& key) {
    static const google::protobuf::Value kMissing;
    auto it = status.fields().find(key);
    return it == status.fields().end() ? kMissing : it->second;
}

std::string Text(const google::protobuf::Struct& status, const std::string& key) {
    return Field(status, key).string_value();
}

double Number(const google::protobuf::Struct& status, const std::string& key) {
    return Field(status, key).number_value();
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d)) {
            if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
        }
        closedir(d);
    }
    return names;
}

TEST(Status, TheDaemonKeepsAStatusFileThatStatusPrints) {
    SandboxRun run;
    SandboxOptions options;
    options.seconds = 300;
    options.simArgs = {"--tag-rate", "10"};
    options.rtcArgs = {"--json", "--keep-alive", "5"};
    run.Start(options);

    google::protobuf::Struct status;
    // Paired, acknowledged and with a minute's traffic counted: the file has
    // been rewritten a few times on the way.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return ReadStatus(run, &status) && Text(status, "rtc_state") == "paired" &&
                   !Text(status, "last_acknowledgement").empty() && Number(status, "records_last_minute") > 0;
        },
        kBound))
        << ReadFile(run.Dir() + "/run/tarnel/status.json");

    EXPECT_EQ(Text(status, "version"), kTarnelVersionText);
    EXPECT_TRUE(Field(status, "board_connected").bool_value());
    EXPECT_FALSE(Text(status, "board_application").empty());
    EXPECT_FALSE(Text(status, "board_boot_loader").empty());
    EXPECT_EQ(Text(status, "rtc_address"), "127.0.0.1:53010");
    EXPECT_TRUE(Field(status, "records_waiting").has_number_value());
    EXPECT_TRUE(Field(status, "packages_queued").has_number_value());
    // The backup journal takes each package as it is queued.
    EXPECT_FALSE(Text(status, "last_backup_write").empty());
    EXPECT_GT(Number(status, "backup_bytes_written"), 0);
    // The sandbox refuses the RTC's clock: an error line the status shows.
    EXPECT_NE(Text(status, "last_error").find("Failed on settimeofday"), std::string::npos);
    EXPECT_FALSE(Text(status, "last_error_time").empty());

    // Rewritten as time passes, and each time whole: no temporary file left.
    const double uptime = Number(status, "uptime_seconds");
    ASSERT_TRUE(WaitUntil([&] { return ReadStatus(run, &status) && Number(status, "uptime_seconds") > uptime; },
                          kBound));
    EXPECT_EQ(FilesIn(run.Dir() + "/run/tarnel"), std::vector<std::string>{"status.json"});
    // Ten records a second over the last minute, give or take a sampling.
    std::cout << "records_last_minute: " << Number(status, "records_last_minute") << std::endl;
    EXPECT_GT(Number(status, "records_last_minute"), 100);

    const CommandResult printed =
        RunCommand({DaemonPath(), "--status", "--status-file", run.Dir() + "/run/tarnel/status.json"}, kBound);
    EXPECT_EQ(printed.status, 0);
    std::cout << printed.out;
    EXPECT_NE(printed.out.find("rtc_state:"), std::string::npos);
    EXPECT_NE(printed.out.find(" paired\n"), std::string::npos);
    EXPECT_NE(printed.out.find("records_last_minute:"), std::string::npos);
    EXPECT_NE(printed.out.find("last_backup_write:"), std::string::npos);
}

}  // namespace
