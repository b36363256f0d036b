#include "tools/subgsim/sim_script.h"

#include <gtest/gtest.h>

namespace {

using Kind = ScriptCommand::Kind;

TEST(ScriptParse, ReadsEveryCommandAndSkipsCommentsAndBlankLines) {
    ScriptParse p = ParseScript(
        "# start-up chatter\n"
        "\n"
        "sleep 250\n"
        "send 08 01 14 14 01 06 0a 06   # a version reply by hand\r\n"
        "reply 0 0x12 ab\n");
    ASSERT_EQ(p.error, "");
    ASSERT_EQ(p.commands.size(), 3u);
    EXPECT_EQ(p.commands[0].kind, Kind::Sleep);
    EXPECT_EQ(p.commands[0].sleepMs, 250u);
    EXPECT_EQ(p.commands[0].line, 3);
    EXPECT_EQ(p.commands[1].kind, Kind::Send);
    EXPECT_EQ(p.commands[1].bytes, (std::vector<uint8_t>{0x08, 0x01, 0x14, 0x14, 0x01, 0x06, 0x0a, 0x06}));
    EXPECT_EQ(p.commands[2].kind, Kind::Reply);
    EXPECT_EQ(p.commands[2].opcode, 0);
    EXPECT_EQ(p.commands[2].bytes, (std::vector<uint8_t>{0x12, 0xab}));
    EXPECT_EQ(p.commands[2].line, 5);
}

TEST(ScriptParse, ReplyWithoutDataIsGood) {
    ScriptParse p = ParseScript("reply 20");
    ASSERT_EQ(p.error, "");
    ASSERT_EQ(p.commands.size(), 1u);
    EXPECT_TRUE(p.commands[0].bytes.empty());
}

TEST(ScriptParse, EmptyScriptHasNoCommands) {
    ScriptParse p = ParseScript("");
    EXPECT_EQ(p.error, "");
    EXPECT_TRUE(p.commands.empty());
}

struct BadLine {
    const char* text;
    const char* errorStart;
};

class ScriptBadLine : public ::testing::TestWithParam<BadLine> {};

TEST_P(ScriptBadLine, NamesTheLineAndKeepsNoCommand) {
    ScriptParse p = ParseScript(GetParam().text);
    EXPECT_EQ(p.error.rfind(GetParam().errorStart, 0), 0u) << p.error;
    EXPECT_TRUE(p.commands.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScriptBadLine,
    ::testing::Values(BadLine{"sleep 10\nsleep\n", "line 2: "}, BadLine{"sleep -1", "line 1: "},
                      BadLine{"sleep 10 20", "line 1: "}, BadLine{"sleep 99999999999", "line 1: "},
                      BadLine{"# fine\n\nsend\n", "line 3: "}, BadLine{"send 1g", "line 1: "},
                      BadLine{"send 123", "line 1: "}, BadLine{"send 0x", "line 1: "},
                      BadLine{"reply", "line 1: "}, BadLine{"reply 256 00", "line 1: "},
                      BadLine{"reply 0x14", "line 1: "}, BadLine{"reply 1 zz", "line 1: "},
                      BadLine{"sleep 1\nsleep 2\nsleep 3\nwait 5", "line 4: unknown command 'wait'"}));

TEST(ScriptParse, ReplyDataMustFitInOneFrame) {
    std::string fits = "reply 1";
    for (int i = 0; i < 250; ++i) fits += " 00";
    EXPECT_EQ(ParseScript(fits).error, "");
    EXPECT_EQ(ParseScript(fits + " 00").error.rfind("line 1: ", 0), 0u);
}

}  // namespace
