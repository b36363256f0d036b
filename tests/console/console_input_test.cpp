// Settings typed at the console that no radio or request can take: refused
// with one line, or quietly for a blank or non-numeric answer; either way
// nothing is queued for the board and no file changes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "console/commands.h"
#include "params/rf_settings.h"
#include "params/working_params.h"
#include "subg/request_queue.h"
#include "support/scratch_dir.h"
#include "support/text_file.h"

namespace {


std::map<std::string, std::string> FilesHere() {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(".")) files[entry.path()] = ReadText(entry.path());
    return files;
}

// Runs the command with answers as its standard input; what it shows on
// standard error.
std::string RunWithAnswers(int command, const std::vector<std::string>& answers) {
    {
        std::ofstream input("answers");
        for (const std::string& line : answers) input << line << "\n";
    }
    EXPECT_NE(std::freopen("answers", "r", stdin), nullptr);
    std::fflush(stderr);
    const int savedStderr = dup(STDERR_FILENO);
    const int shown = open("shown", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(shown, STDERR_FILENO);
    RunConsoleCommand(command);
    std::fflush(stderr);
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    close(shown);
    const std::string text = ReadText("shown");
    std::remove("answers");
    std::remove("shown");
    return text;
}

struct RefusalCase {
    int command;
    std::vector<std::string> answers;
    const char* refusal;  // nullptr: refused quietly
};

TEST(ConsoleInput, OutOfRangeSettingsAreRefusedAndBlankOnesChangeNothing) {
    ScratchDir dir{"console_input_", ScratchDir::Cwd::Enter};
    LoadParams();
    SaveRFSettings();
    ParamsUpdated = 0;
    const std::map<std::string, std::string> before = FilesHere();
    const char* freq = "Frequency must be from 868.100 to under 1000 MHz\n";
    const char* diag = "Diagnostics interval must be 0 to 255 minutes\n";
    const char* chDelay = "Frequency change delay must be 0 to 255 minutes\n";
    const char* channels = "Number of channels must be 0 to 62\n";
    const char* steady = "Steady state interval must be 0 to 65535 seconds\n";
    const char* fwDelay = "Delay must be 0 to 60000 ms\n";
    const RefusalCase cases[] = {
        {1, {"0"}, freq},       {1, {"-5"}, freq},       {1, {"1000"}, freq},    {1, {"1e3"}, freq},
        {1, {""}, nullptr},     {1, {"abc"}, nullptr},   {26, {"-1"}, diag},     {26, {"256"}, diag},
        {26, {""}, nullptr},    {32, {"-1"}, chDelay},   {32, {"256"}, chDelay}, {32, {"x"}, nullptr},
        {35, {"0", "-200"}, channels}, {35, {"0", "300"}, channels}, {35, {"0", ""}, nullptr},
        {37, {"-1"}, steady},   {37, {"65536"}, steady}, {37, {" "}, nullptr},   {24, {"-1"}, fwDelay},
        {24, {"60001"}, fwDelay},
    };
    for (const RefusalCase& c : cases) {
        const std::string name = std::to_string(c.command) + " answered \"" + c.answers.back() + "\"";
        const std::string shown = RunWithAnswers(c.command, c.answers);
        // Everything but the prompts, which all start alike.
        std::string said;
        std::istringstream lines(shown);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("Please", 0) != 0) said += line + "\n";
        }
        EXPECT_EQ(said, c.refusal ? c.refusal : "") << name;
        EXPECT_EQ(PendingSubGRequests(), 0u) << name;
        EXPECT_EQ(ParamsUpdated.load(), 0) << name;
        EXPECT_EQ(FilesHere(), before) << name;
    }
}

}  // namespace
