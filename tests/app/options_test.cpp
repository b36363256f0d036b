#include "app/options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tags/csv_log_limit.h"

namespace {

OptionsVerdict Parse(std::vector<std::string> args, TarnelOptions* out) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return ParseOptions(static_cast<int>(args.size()), argv.data(), out);
}

struct OptionsCase {
    std::vector<std::string> args;
    OptionsVerdict verdict;
    std::string logFile;
    uint64_t readerMac;
    std::string workDir = "";
    std::string logDir = "";
    int logLevel = LOG_DEBUG;
    unsigned logLimitMb = 0;
    std::string rtcs = "";  // the allow-list as the log shows it
    std::string statusFile = kDefaultStatusFile;
};

TEST(Options, EachCommandLineGetsItsVerdictAndValues) {
    const OptionsCase cases[] = {
        {{"Tarnel"}, OptionsVerdict::Run, "", 1},
        {{"Tarnel", "-f", "/tmp/a.csv", "-m", "123456789012"}, OptionsVerdict::Run, "/tmp/a.csv", 123456789012u},
        {{"Tarnel", "-m", "0"}, OptionsVerdict::Run, "", 0},  // kept for the backbone to ignore
        {{"Tarnel", "--help"}, OptionsVerdict::Help, "", 1},
        {{"Tarnel", "-f", "x.csv", "--version"}, OptionsVerdict::Version, "x.csv", 1},
        {{"Tarnel", "--version", "-z"}, OptionsVerdict::Version, "", 1},
        {{"Tarnel", "-i", "x"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "-a", "x"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "-z"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "-f"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--verbose"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--help=yes"}, OptionsVerdict::Refused, "", 1},
        // A scan cut short inside a cluster must not leak into the next parse.
        {{"Tarnel", "-zf", "y.csv"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "-fz.csv"}, OptionsVerdict::Run, "z.csv", 1},
        {{"Tarnel", "--workdir", "/etc/tarnel", "--log-dir", "/home", "--log-level", "6", "-m", "7"},
         OptionsVerdict::Run, "", 7, "/etc/tarnel", "/home", 6},
        {{"Tarnel", "--log-level=0"}, OptionsVerdict::Run, "", 1, "", "", 0},
        {{"Tarnel", "--log-dir", std::string(255, 'd')}, OptionsVerdict::Run, "", 1, "", std::string(255, 'd')},
        // Cut to fit, it would name another directory.
        {{"Tarnel", "--log-dir", std::string(256, 'd')}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--log-dir", ""}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--workdir", ""}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--workdir"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--log-level", "8"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--log-level", "-1"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--log-level", "66"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--log-level", "info"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--rtc", "192.168.1.10"}, OptionsVerdict::Run, "", 1, "", "", LOG_DEBUG, 0, "192.168.1.10"},
        {{"Tarnel", "--rtc", "192.168.1.10:53010", "-m", "5", "--rtc=10.0.0.2"}, OptionsVerdict::Run, "", 5,
         "", "", LOG_DEBUG, 0, "192.168.1.10:53010, 10.0.0.2"},
        {{"Tarnel", "--rtc", "192.168.1.10", "--rtc", "192.168.1"}, OptionsVerdict::Refused, "", 1, "", "", LOG_DEBUG, 0, "192.168.1.10"},
        {{"Tarnel", "--rtc", "rtc.farm"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--rtc", "192.168.1.10:0"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--rtc", ""}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--rtc"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--log-limit", "512"}, OptionsVerdict::Run, "", 1, "", "", LOG_DEBUG, 512},
        {{"Tarnel", "--log-limit=1"}, OptionsVerdict::Run, "", 1, "", "", LOG_DEBUG, 1},
        {{"Tarnel", "--log-limit", "1048576"}, OptionsVerdict::Run, "", 1, "", "", LOG_DEBUG, 1048576},
        {{"Tarnel", "--log-limit", "1048577"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--log-limit", "99999999999999999999999"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--log-limit", "0"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--log-limit", "-16"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--log-limit", "16MB"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--log-limit", ""}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--status"}, OptionsVerdict::Status, "", 1},
        // The file named after --status counts.
        {{"Tarnel", "--status", "--status-file", "/tmp/s.json"}, OptionsVerdict::Status, "", 1, "", "", LOG_DEBUG, 0,
         "", "/tmp/s.json"},
        {{"Tarnel", "--status-file=/tmp/s.json"}, OptionsVerdict::Run, "", 1, "", "", LOG_DEBUG, 0, "", "/tmp/s.json"},
        {{"Tarnel", "--status-file", ""}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--status", "-z"}, OptionsVerdict::Refused, "", 1},
        {{"Tarnel", "--status", "--version"}, OptionsVerdict::Version, "", 1},
    };
    for (const OptionsCase& c : cases) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        TarnelOptions options;
        EXPECT_EQ(Parse(c.args, &options), c.verdict) << line;
        EXPECT_EQ(options.logFile, c.logFile) << line;
        EXPECT_EQ(options.readerMac, c.readerMac) << line;
        EXPECT_EQ(options.workDir, c.workDir) << line;
        EXPECT_EQ(options.logDir, c.logDir) << line;
        EXPECT_EQ(options.logLevel, c.logLevel) << line;
        EXPECT_EQ(options.allowedRTCs.Describe(), c.rtcs) << line;
        EXPECT_EQ(options.logLimitMb, c.logLimitMb) << line;
        EXPECT_EQ(options.statusFile, c.statusFile) << line;
    }
}

TEST(Options, TheUsageNamesEveryOption) {
    for (const char* option :
         {"-f", "-m", "--workdir", "--log-dir", "--log-level", "--log-limit", "--rtc", "--status-file", "--status",
          "--help", "--version"})
        EXPECT_NE(std::strstr(kUsage, option), nullptr) << option;
}

TEST(Options, TheLogLimitIsTheConfiguredOneElseSuitsTheMedium) {
    TarnelOptions options;
    EXPECT_EQ(CsvLogLimitMb(options, false), kCsvLogLimitMbOnStorage);
    EXPECT_EQ(CsvLogLimitMb(options, true), kCsvLogLimitMbInRam);
    options.logLimitMb = 100;
    EXPECT_EQ(CsvLogLimitMb(options, true), 100u);
}

TEST(Options, ParsedValuesReachTheProcessWideOnes) {
    TarnelOptions options;
    options.logFile = "/tmp/a.csv";
    options.readerMac = 123456789012u;
    options.logLevel = LOG_INFO;
    ASSERT_TRUE(options.allowedRTCs.Add("10.0.0.2"));
    ApplyOptions(options, nullptr);
    EXPECT_STREQ(LogFile, "/tmp/a.csv");
    EXPECT_EQ(BackboneStartSettings.readerMac, 123456789012u);
    EXPECT_EQ(BackboneStartSettings.allowedRTCs.Describe(), "10.0.0.2");
    EXPECT_EQ(PrintReaderData, 0);
    EXPECT_EQ(setlogmask(0), LOG_UPTO(LOG_INFO));
}

TEST(Options, AnEmptyPrintReadStillTurnsPrintingOn) {
    ApplyOptions(TarnelOptions{}, "");
    EXPECT_EQ(PrintReaderData, 1);
}

TEST(Options, AnOverlongLogPathIsCutNotOverflowed) {
    TarnelOptions options;
    options.logFile = std::string(1000, 'x');
    ApplyOptions(options, nullptr);
    EXPECT_EQ(std::string(LogFile).size(), static_cast<size_t>(kLogFilePathSize - 1));
}

}  // namespace
