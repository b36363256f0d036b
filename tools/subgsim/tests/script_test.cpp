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
    EXPECT_EQ(p.commands[0].number, 250u);
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

TEST(ScriptParse, ReadsTheCommandsThatSteerARun) {
    ScriptParse p = ParseScript(
        "silent on\n"
        "silent off\n"
        "tags 1000\n"
        "tags 0 4294967295\n"
        "delay 60000\n"
        "never 27\n"
        "answer 27\n"
        "forget freq 1\n"
        "forget steady\n"
        "forget all\n"
        "paramcheck 0\n");
    ASSERT_EQ(p.error, "");
    ASSERT_EQ(p.commands.size(), 11u);
    const std::vector<ScriptCommand>& c = p.commands;
    EXPECT_EQ(c[0].kind, Kind::Silent);
    EXPECT_EQ(c[0].number, 1u);
    EXPECT_EQ(c[1].number, 0u);
    EXPECT_EQ(c[2].kind, Kind::Tags);
    EXPECT_EQ(c[2].number, 1000u);
    EXPECT_FALSE(c[2].tagId);
    EXPECT_EQ(c[3].number, 0u);
    EXPECT_EQ(c[3].tagId, 4294967295u);
    EXPECT_EQ(c[4].kind, Kind::Delay);
    EXPECT_EQ(c[4].number, 60000u);
    EXPECT_EQ(c[5].kind, Kind::Never);
    EXPECT_EQ(c[5].opcode, 27);
    EXPECT_EQ(c[6].kind, Kind::Answer);
    EXPECT_EQ(c[6].opcode, 27);
    EXPECT_EQ(c[7].kind, Kind::ForgetFreq);
    EXPECT_EQ(c[7].number, 1u);
    EXPECT_EQ(c[8].kind, Kind::ForgetSteady);
    EXPECT_EQ(c[9].kind, Kind::ForgetAll);
    EXPECT_EQ(c[10].kind, Kind::ParamCheck);
    EXPECT_EQ(c[10].number, 0u);
}

TEST(ScriptCommandLine, TellsBlankLinesFromCommands) {
    ScriptCommand cmd;
    bool isCommand = true;
    EXPECT_EQ(ParseCommandLine("   # only a comment", &cmd, &isCommand), "");
    EXPECT_FALSE(isCommand);
    EXPECT_EQ(ParseCommandLine("paramcheck 255", &cmd, &isCommand), "");
    EXPECT_TRUE(isCommand);
    EXPECT_EQ(cmd.number, 255u);
}

class ScriptCommandBadLine : public ::testing::TestWithParam<const char*> {};

TEST_P(ScriptCommandBadLine, IsRefusedWithAReason) {
    ScriptCommand cmd;
    bool isCommand = false;
    EXPECT_NE(ParseCommandLine(GetParam(), &cmd, &isCommand), "") << GetParam();
    EXPECT_TRUE(isCommand);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScriptCommandBadLine,
    ::testing::Values("silent", "silent yes", "silent on off", "tags", "tags -5", "tags 100 x", "tags 100 4294967296",
                      "tags 1 2 3", "tags 99999999999", "delay", "delay 60001", "never", "never 256", "never 0x14",
                      "answer", "answer 1 2", "forget", "forget freq", "forget freq 2", "forget steady 1",
                      "forget all now", "forget power", "paramcheck", "paramcheck 256", "paramcheck -1",
                      "paramcheck 1 2", "SILENT on"));

TEST(ScriptParse, ReadsTheTagTrafficCommands) {
    ScriptParse p = ParseScript(
        "tag 200001 255 3 activity,standup,diag1,diag2,params,per,mems,raw,type10,unknown,unforwarded\n"
        "tag 4294967295 0 0 none\n"
        "badtag short 7 9\n"
        "tagrate 300\n"
        "tagrate 0 5000\n"
        "stats\n");
    ASSERT_EQ(p.error, "");
    ASSERT_EQ(p.commands.size(), 6u);
    const std::vector<ScriptCommand>& c = p.commands;
    EXPECT_EQ(c[0].kind, Kind::Tag);
    EXPECT_EQ(c[0].tagId, 200001u);
    EXPECT_EQ(c[0].seq, 255);
    EXPECT_EQ(c[0].delayCount, 3);
    EXPECT_EQ(c[0].subMsgs,
              (std::vector<SubMsgKind>{SubMsgKind::Activity, SubMsgKind::StandUp, SubMsgKind::Diag1, SubMsgKind::Diag2,
                                       SubMsgKind::Params, SubMsgKind::Per, SubMsgKind::Mems, SubMsgKind::Raw,
                                       SubMsgKind::Type10, SubMsgKind::Unknown, SubMsgKind::Unforwarded}));
    EXPECT_EQ(c[1].tagId, 4294967295u);
    EXPECT_TRUE(c[1].subMsgs.empty());
    EXPECT_EQ(c[2].kind, Kind::BadTag);
    EXPECT_EQ(c[2].malformed, MalformedKind::Short);
    EXPECT_EQ(c[2].tagId, 7u);
    EXPECT_EQ(c[2].seq, 9);
    EXPECT_EQ(c[3].kind, Kind::TagRate);
    EXPECT_EQ(c[3].number, 300u);
    EXPECT_FALSE(c[3].tagId);
    EXPECT_EQ(c[4].number, 0u);
    EXPECT_EQ(c[4].tagId, 5000u);
    EXPECT_EQ(c[5].kind, Kind::Stats);
}

struct TagLine {
    const char* text;
    const char* error;
};

class ScriptTagBadLine : public ::testing::TestWithParam<TagLine> {};

TEST_P(ScriptTagBadLine, SaysWhatIsWrong) {
    ScriptCommand cmd;
    bool isCommand = false;
    EXPECT_EQ(ParseCommandLine(GetParam().text, &cmd, &isCommand), GetParam().error) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScriptTagBadLine,
    ::testing::Values(
        TagLine{"tag 1 2 3", "tag takes TAGID SEQ DELAY SUBMSGS"},
        TagLine{"tag 1 2 3 activity x", "tag takes TAGID SEQ DELAY SUBMSGS"},
        TagLine{"tag x 2 3 activity", "bad tag id 'x' (decimal, 32 bits)"},
        TagLine{"tag 1 256 3 activity", "bad sequence number '256' (decimal 0-255)"},
        TagLine{"tag 1 2 -1 activity", "bad delay count '-1' (decimal 0-255)"},
        TagLine{"tag 1 2 3 activity,walking",
                "unknown sub-message kind 'walking' (one of activity, unforwarded, standup, diag1, diag2, params, "
                "per, mems, raw, type10, unknown, or none)"},
        TagLine{"tag 1 2 3 activity,,per",
                "unknown sub-message kind '' (one of activity, unforwarded, standup, diag1, diag2, params, per, mems, "
                "raw, type10, unknown, or none)"},
        TagLine{"tag 1 2 3 activity,", "bad sub-message list 'activity,'"},
        TagLine{"tag 1 2 3 diag2,diag2,diag2,diag2,diag2,diag2,diag2,diag2,diag2,diag2,diag2,diag2",
                "the sub-messages do not fit in one frame"},
        TagLine{"badtag format1 1", "badtag takes KIND TAGID SEQ"},
        TagLine{"badtag format3 1 2",
                "unknown malformation 'format3' (one of format1, diag3, short, cut, checksum, length4)"},
        TagLine{"badtag cut 1 300", "bad sequence number '300' (decimal 0-255)"},
        TagLine{"tagrate", "tagrate takes messages a second (0-1000) and an optional tag id"},
        TagLine{"tagrate 1001", "tagrate takes messages a second (0-1000) and an optional tag id"},
        TagLine{"tagrate 10 1 2", "tagrate takes messages a second (0-1000) and an optional tag id"},
        TagLine{"tagrate 10 -1", "bad tag id '-1' (decimal, 32 bits)"},
        TagLine{"stats now", "stats takes nothing"}));

TEST(ScriptParse, ReplyDataMustFitInOneFrame) {
    std::string fits = "reply 1";
    for (int i = 0; i < 250; ++i) fits += " 00";
    EXPECT_EQ(ParseScript(fits).error, "");
    EXPECT_EQ(ParseScript(fits + " 00").error.rfind("line 1: ", 0), 0u);
}

}  // namespace
