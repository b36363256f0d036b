// Regression: a fixed recording of the board's tag traffic, good and bad,
// whole, split and joined, is played into the daemon; the CSV logs it writes
// must equal the checked-in ones once their time columns are masked.
// Run with TARNEL_REPLAY_UPDATE=1 (scripts/replay-update) to write the
// expected files anew after a deliberate change.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "sandbox_run.h"

namespace {

constexpr int kBound = 120;
const std::string kReplayDir = std::string(TARNEL_SOURCE_DIR) + "/tests/replay";

// Epoch seconds with the milliseconds beside them, and ctime dates, change
// from run to run.
std::string MaskTimes(const std::string& text) {
    static const std::regex epochAndMillis("\\b1[0-9]{9}, [0-9]+\\b");
    static const std::regex epoch("\\b1[0-9]{9}\\b");
    static const std::regex date("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");
    std::string masked = std::regex_replace(text, epochAndMillis, "<sec>, <fraction>");
    masked = std::regex_replace(masked, epoch, "<sec>");
    return std::regex_replace(masked, date, "<date>");
}

// Log paths by kind: "TagsActivity_261208_0718.csv" is "TagsActivity.csv";
// the expected files carry no time stamp.
std::map<std::string, std::string> LogsByKind(const std::string& dir) {
    static const std::regex stamped("^(.*?)(_[0-9]{6}_[0-9]{4})?\\.csv$");
    std::map<std::string, std::string> logs;
    DIR* d = opendir(dir.c_str());
    if (!d) return logs;
    while (dirent* entry = readdir(d)) {
        std::smatch m;
        std::string name = entry->d_name;
        if (std::regex_match(name, m, stamped)) logs[m[1].str() + ".csv"] = dir + "/" + name;
    }
    closedir(d);
    return logs;
}

size_t LineCount(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

// The recording's raw chunks, one `send` line each.
size_t ChunksInRecording() {
    std::istringstream script(ReadFile(kReplayDir + "/serial_traffic.script"));
    std::string line;
    size_t chunks = 0;
    while (std::getline(script, line)) chunks += line.rfind("send ", 0) == 0 ? 1 : 0;
    return chunks;
}

// Waits until the daemon has written at least the expected rows of every log.
void WaitForRows(const SandboxRun& run, const std::map<std::string, std::string>& expected) {
    for (int round = 0; round < kBound * 10; ++round) {
        auto produced = LogsByKind(run.Dir() + "/home");
        bool all = true;
        for (const auto& [kind, text] : expected) {
            all = all && produced.count(kind) && LineCount(ReadFile(produced[kind])) >= LineCount(text);
        }
        if (all) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

TEST(Replay, RecordedTrafficGivesTheCheckedInLogs) {
    SandboxRun run;
    // A board that answers nothing: its replies would otherwise land at
    // random places between the recorded chunks.
    run.Start({240, {"--silent", "--script", kReplayDir + "/serial_traffic.script"}, {}});
    bool update = std::getenv("TARNEL_REPLAY_UPDATE") != nullptr;
    std::map<std::string, std::string> expected;
    for (const auto& [kind, path] : LogsByKind(kReplayDir + "/expected")) expected[kind] = ReadFile(path);
    ASSERT_TRUE(update || !expected.empty()) << "no expected logs: run scripts/replay-update";

    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), " RAW ", kBound, ChunksInRecording() - 1));
    if (update) {
        // Parsing and logging take milliseconds; leave ample time.
        std::this_thread::sleep_for(std::chrono::seconds(3));
        for (const auto& [kind, path] : LogsByKind(run.Dir() + "/home")) {
            std::ofstream(kReplayDir + "/expected/" + kind) << MaskTimes(ReadFile(path));
        }
        GTEST_SKIP() << "expected logs written to " << kReplayDir << "/expected";
    }
    WaitForRows(run, expected);
    EXPECT_GE(run.MatchingLines(run.SyslogPath(), "ParseTagMsg: ParsedBytes == -1").size(), 3u);

    auto produced = LogsByKind(run.Dir() + "/home");
    for (const auto& [kind, text] : expected) {
        ASSERT_TRUE(produced.count(kind)) << kind << " was not written";
        EXPECT_EQ(MaskTimes(ReadFile(produced[kind])), text) << kind;
    }
    EXPECT_EQ(produced.size(), expected.size());
}

}  // namespace
