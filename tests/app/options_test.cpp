#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool Parse(std::vector<std::string> args, TarnelOptions* out) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return ParseOptions(static_cast<int>(args.size()), argv.data(), out);
}

TEST(Options, NoOptionsKeepTheDefaults) {
    TarnelOptions options;
    ASSERT_TRUE(Parse({"Tarnel"}, &options));
    EXPECT_EQ(options.readerMac, 1u);
    EXPECT_EQ(options.logFile, "");
}

TEST(Options, LogFileAndMacAreTaken) {
    TarnelOptions options;
    ASSERT_TRUE(Parse({"Tarnel", "-f", "/tmp/a.csv", "-m", "123456789012"}, &options));
    EXPECT_EQ(options.logFile, "/tmp/a.csv");
    EXPECT_EQ(options.readerMac, 123456789012u);
    ApplyOptions(options, nullptr);
    EXPECT_STREQ(LogFile, "/tmp/a.csv");
    EXPECT_EQ(ReaderMacAddress, 123456789012u);
    EXPECT_EQ(PrintReaderData, 0);
}

TEST(Options, MacZeroIsKeptForTheBackboneToIgnore) {
    TarnelOptions options;
    ASSERT_TRUE(Parse({"Tarnel", "-m", "0"}, &options));
    EXPECT_EQ(options.readerMac, 0u);
}

TEST(Options, InfoAndAbortOptionsAndUnknownOnesEndTheProgram) {
    TarnelOptions options;
    EXPECT_FALSE(Parse({"Tarnel", "-i", "x"}, &options));
    EXPECT_FALSE(Parse({"Tarnel", "-a", "x"}, &options));
    EXPECT_FALSE(Parse({"Tarnel", "-z"}, &options));
    EXPECT_FALSE(Parse({"Tarnel", "-f"}, &options));
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
