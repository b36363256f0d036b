// Reports and remote control with both simulators: the board's diagnostics
// on their way to the logs and the RTC, parameters from the RTC applied and
// answered, and a channel survey started, reported and stopped.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "params/working_params.h"
#include "sandbox_run.h"

namespace {

constexpr int kBound = 90;

// The one log in the daemon's /home whose name starts with prefix.
std::string HomeLog(const SandboxRun& run, const std::string& prefix) {
    const std::string home = run.Dir() + "/home";
    DIR* dir = opendir(home.c_str());
    if (dir == nullptr) return "";
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (std::string(entry->d_name).rfind(prefix, 0) == 0) found = home + "/" + entry->d_name;
    }
    closedir(dir);
    return found.empty() ? "" : ReadFile(found);
}

std::vector<std::string> Columns(const std::string& line) {
    std::vector<std::string> columns;
    std::stringstream in(line);
    std::string column;
    while (std::getline(in, column, ',')) columns.push_back(column);
    return columns;
}

SandboxOptions WithControls(const SandboxRun& run, std::vector<std::string> simArgs) {
    SandboxOptions options{150, run.ControlArgs(), {}};
    options.simArgs.insert(options.simArgs.end(), simArgs.begin(), simArgs.end());
    options.withRtc = true;
    return options;
}

struct Layout {
    const char* version;
    const char* versionNumber;
    bool frequencies;
};

void PrintTo(const Layout& layout, std::ostream* os) { *os << "board software " << layout.version; }

class ReportsDiagnostics : public ::testing::TestWithParam<Layout> {};

TEST_P(ReportsDiagnostics, ReachTheDiagnosticsLogTheReaderDiagLogAndTheRtc) {
    const Layout layout = GetParam();
    SandboxRun run;
    run.Start(WithControls(run, {"--version", layout.version}));
    ASSERT_TRUE(run.WaitForRtcLine(std::string("RECV READERDATAPACKAGE .*reader_params_info\\(subg=") +
                                       layout.versionNumber + " app=" + std::to_string(kUserSpaceAppVersion) +
                                       " openwrt=27575 .* versions=103B",
                                   kBound))
        << "a parameters report once paired and the board's versions are known";

    ASSERT_TRUE(run.Control("diag"));
    ASSERT_TRUE(run.WaitForRtcLine("reader_diag_info\\(intr_comm=[0-9]+ .* rssi=-82 no_tag_tx=30 app_crash=-1 "
                                   "subg_reset=4 total_pack=123456 subg_err=5 invalid_frmt=3 fifo_of=1",
                                   kBound));

    const std::string report = HomeLog(run, "Diag_");
    EXPECT_EQ(report.find("FreqR1[") != std::string::npos, layout.frequencies) << report;
    EXPECT_NE(report.find("SubGDiagnotics: AvgRSSI = -82, BadFormatCnt = 3"), std::string::npos) << report;

    std::stringstream csv(HomeLog(run, "ReaderDiag_"));
    std::string header, line;
    ASSERT_TRUE(std::getline(csv, header) && std::getline(csv, line));
    const std::vector<std::string> columns = Columns(line);
    ASSERT_EQ(columns.size(), 22u) << line;
    EXPECT_EQ(Columns(header).size(), 22u);
    EXPECT_EQ(columns[4], " -82");
    EXPECT_EQ(columns[8], " 123456");
    for (size_t i = 12; i < 22; ++i) EXPECT_EQ(columns[i], " NA") << i;
}

INSTANTIATE_TEST_SUITE_P(Reports, ReportsDiagnostics,
                         ::testing::Values(Layout{"1.6.9", "10609", true}, Layout{"1.6.10", "10610", false}),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                             return info.param.frequencies ? "WithFrequencies" : "WithoutFrequencies";
                         });

WorkingParamsSt SavedParams(const SandboxRun& run) {
    const std::string file = ReadFile(run.WorkDir() + "/" + ParamFilName);
    WorkingParamsSt params{};
    if (file.size() >= kWorkingParamsSize) DecodeWorkingParams(reinterpret_cast<const uint8_t*>(file.data()), &params);
    return params;
}

TEST(Reports, ReaderAndTagParametersFromTheRtcReachTheFileAndTheBoard) {
    SandboxRun run;
    run.Start(WithControls(run, {}));
    ASSERT_TRUE(run.WaitForRtcLine("reader_params_info\\(subg=10610 .* channel=1 freq=907.000", kBound));

    ASSERT_TRUE(run.RtcControl("readerparams rf_region=Europe working_channel=2 diagnostics_sending_interval=30"));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=35 len=31 .*data=01 06 64 03 64 00", kBound))
        << "the Europe table, six channels from 868.100";
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=36 len=6 .*data=01", kBound));
    ASSERT_TRUE(run.WaitForRtcLine("reader_params_info\\(.* channel=2 freq=868.300 diag_min=30 .* region=Europe",
                                   kBound))
        << "answered by a new report";
    WorkingParamsSt saved = SavedParams(run);
    EXPECT_EQ(saved.RFRegion, 1);
    EXPECT_EQ(saved.WorkingChann, 1);
    EXPECT_EQ(saved.ChanArrayLen, 6);
    EXPECT_EQ(saved.DiagInterval, 30);
    EXPECT_EQ(saved.FreqChDelay, 10);

    ASSERT_TRUE(run.RtcControl("tagparams steady_state_interval=7"));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=37 len=7 .*data=a4 01", kBound)) << "420 s";
    const std::string steady300 = "FRAME op=37 len=7 .*data=2c 01";
    const size_t before = run.MatchingLines(run.SerialPath(), steady300).size();
    ASSERT_TRUE(run.RtcControl("tagparams steady_state_interval=5"));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), steady300, kBound, before)) << "300 s";
    saved = SavedParams(run);
    EXPECT_EQ(saved.SteadyStateInterval, 300u);
    EXPECT_EQ(saved.WorkingChann, 1) << "a message without a channel keeps it";
}

TEST(Reports, ASurveyRunsOverTheTableReportsAndStopsTheBoard) {
    SandboxRun run;
    run.Start(WithControls(run, {}));
    ASSERT_TRUE(run.WaitForRtcLine("reader_params_info", kBound));
    ASSERT_TRUE(run.RtcControl("readerparams rf_region=Europe"));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=35 len=31 ", kBound));

    ASSERT_TRUE(run.RtcControl("command StartChannelSurvey"));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=13 len=8 .*data=02 01 01", kBound));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=14 len=6 .*data=02", kBound)) << "stopped at the end";
    ASSERT_TRUE(run.WaitForRtcLine("RECV SURVEYPROGRESS .* channel=6/6 channel_progress=100% survey_progress=100%",
                                   kBound * 2));
    ASSERT_TRUE(run.WaitForRtcLine("channel_survey_results\\(6 1@868.100:30\\[-110\\.\\..* "
                                   "6@869.800:30\\[-105\\.\\.",
                                   kBound * 2))
        << "the last channel's readings reach the RTC";
    EXPECT_EQ(HostFrames(run, 14).size(), 1u);

    ASSERT_TRUE(run.RtcControl("command CancelChannelSurvey"));
    EXPECT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=14 len=6 .*data=02", kBound, 1));
}

}  // namespace
