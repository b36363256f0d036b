#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RtcSetTagsParameters.pb.h"
#include "tools/rtcsim/rtc_commands.h"
#include "tools/rtcsim/rtc_stream.h"

namespace {

RtcCommand Parse(const std::string& line, std::string* error) {
    RtcCommand cmd;
    bool isCommand = false;
    *error = ParseRtcCommand(line, &cmd, &isCommand);
    return cmd;
}

}  // namespace

TEST(RtcCommands, GoodLines) {
    using Kind = RtcCommand::Kind;
    using Pacing = RtcCommand::Pacing;
    const struct {
        const char* line;
        Kind kind;
        Pacing pacing;
        uint32_t number;
    } cases[] = {
        {"pairack", Kind::PairAck, Pacing::kWhole, 0},
        {"command RestartTarnel", Kind::Message, Pacing::kWhole, 17},
        {"readerparams keep_alive_interval=7 radio_frequency_table=1.5,2 generic=a:b", Kind::Message, Pacing::kWhole,
         14},
        {"persistack 1 18446744073709551615", Kind::Message, Pacing::kWhole, 11},
        {"split 50 clocksync now-20000", Kind::ClockSync, Pacing::kSplit, 0},
        {"dribble 5 envelope 12 01 02", Kind::Envelope, Pacing::kDribble, 12},
        {"header 10 4294967295  # the largest length", Kind::Header, Pacing::kWhole, 10},
        {"accept close", Kind::Accept, Pacing::kWhole, kAcceptClose},
        {"broadcast every 250", Kind::BroadcastEvery, Pacing::kWhole, 250},
        {"pause", Kind::Pause, Pacing::kWhole, 0},
        {"reset", Kind::Reset, Pacing::kWhole, 0},
        {"reset command RunBIT", Kind::Message, Pacing::kCutByReset, 17},
        {"flood 1000000000 persistack", Kind::Message, Pacing::kWhole, 11},
        {"persist off", Kind::Persist, Pacing::kWhole, 0},
        {"persist skip 4 7", Kind::Persist, Pacing::kWhole, 0},
    };
    for (const auto& c : cases) {
        std::string error;
        RtcCommand cmd = Parse(c.line, &error);
        EXPECT_EQ(error, "") << c.line;
        EXPECT_EQ(cmd.kind, c.kind) << c.line;
        EXPECT_EQ(cmd.pacing, c.pacing) << c.line;
        EXPECT_EQ(cmd.number, c.number) << c.line;
    }
}

TEST(RtcCommands, BadLinesSayWhy) {
    for (const char* line :
         {"bogus", "command 11", "command Reboot", "readerparams no_such_field=1", "readerparams working_channel=-1",
          "tagparams tags=x", "header 10", "raw", "raw 1ff", "split 5 pause 10", "clock later", "version 1.2",
          "keepalive -1", "announce 70000", "autoack data on", "pairack now", "flood 0 pairack",
          "flood 1000000001 pairack", "flood 5 pause", "flood 2 flood 2 pairack", "reset split 5 pairack",
          "dribble 1 reset pairack", "persist", "persist skip", "persist skip 0", "persist maybe"}) {
        std::string error;
        Parse(line, &error);
        EXPECT_NE(error, "") << line;
    }
}

TEST(RtcCommands, TagParametersKeepEntriesApart) {
    std::string error;
    RtcCommand cmd = Parse("tagparams tags=1,2 steady_state_interval=60 rf_region=Europe | site_id=3", &error);
    ASSERT_EQ(error, "");
    const auto& msg = static_cast<const RtcSetTagsParameters&>(*cmd.message);
    ASSERT_EQ(msg.tags_params_info_size(), 2);
    EXPECT_EQ(msg.tags_params_info(0).tag_ids_size(), 2);
    EXPECT_EQ(msg.tags_params_info(0).tag_params_info().rf_region(), RFRegionEnum::Europe);
    EXPECT_EQ(msg.tags_params_info(1).tag_params_info().site_id(), 3u);
    EXPECT_EQ(
        static_cast<const RtcSetTagsParameters&>(*Parse("tagparams none", &error).message).tags_params_info_size(), 0);
}

TEST(RtcSimStream, KeepsEnvelopesCutAcrossReads) {
    const std::string stream = HeaderOnly(3, 300) + std::string(300, 'x') + HeaderOnly(2, 0);
    EnvelopeCutter cutter;
    std::vector<EnvelopeCutter::Cut> cuts;
    for (char byte : stream) {
        cutter.Append(&byte, 1);
        for (EnvelopeCutter::Cut cut = cutter.Next(); cut.kind != EnvelopeCutter::Cut::Kind::kNone;
             cut = cutter.Next()) {
            cuts.push_back(cut);
        }
    }
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_EQ(cuts[0].number, 3u);
    EXPECT_EQ(cuts[0].body, std::string(300, 'x'));
    EXPECT_EQ(cuts[1].number, 2u);
    EXPECT_EQ(cutter.Pending(), 0u);
}

TEST(RtcSimStream, GivesUpOnAStreamItCannotRead) {
    for (const std::string& bytes :
         {std::string("\x18\x05", 2), HeaderOnly(10, 4294967295u), std::string("\x8a\x01\xff\xff\xff\xff\xff", 7)}) {
        EnvelopeCutter cutter;
        cutter.Append(bytes.data(), bytes.size());
        EXPECT_EQ(cutter.Next().kind, EnvelopeCutter::Cut::Kind::kInvalid);
    }
}
