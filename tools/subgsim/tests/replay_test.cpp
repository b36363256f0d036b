#include "tools/subgsim/sim_replay.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "subg/frame.h"
#include "tools/subgsim/sim_script.h"

namespace {

using Kind = ScriptCommand::Kind;

// Cuts the bytes of all send lines into frames as the host would and counts
// the good ones; a bad frame loses the rest of its chunk.
int GoodFrames(const std::vector<ScriptCommand>& commands) {
    int frames = 0;
    std::vector<uint8_t> pending;
    for (const ScriptCommand& c : commands) {
        if (c.kind != Kind::Send) continue;
        pending.insert(pending.end(), c.bytes.begin(), c.bytes.end());
        T7734FrameReply frame{};
        int n = 0;
        while ((n = ReplyFromWire(pending.data(), pending.size(), &frame)) > 0) {
            ++frames;
            pending.erase(pending.begin(), pending.begin() + n);
        }
        if (n < 0) pending.clear();
    }
    EXPECT_TRUE(pending.empty()) << "a frame is left unfinished";
    return frames;
}

void ExpectPlayable(const std::string& text) {
    ScriptParse p = ParseScript(text);
    ASSERT_EQ(p.error, "");
    ASSERT_GE(p.commands.size(), 3u);
    EXPECT_EQ(p.commands.front().kind, Kind::Sleep);
    EXPECT_EQ(p.commands.front().number, 4000u);
    EXPECT_EQ(p.commands.back().kind, Kind::Sleep);
    EXPECT_EQ(p.commands.back().number, 1000u);
    for (size_t i = 1; i + 1 < p.commands.size(); ++i) {
        const ScriptCommand& c = p.commands[i];
        ASSERT_TRUE(c.kind == Kind::Send || c.kind == Kind::Sleep) << "line " << c.line;
        if (c.kind == Kind::Sleep) {
            EXPECT_TRUE(c.number == 20 || c.number == 50) << "line " << c.line;
        } else {
            EXPECT_EQ(p.commands[i + 1].kind, Kind::Sleep) << "line " << c.line;
        }
    }
    // 41 messages, of which the bad checksum and the length byte 4 are no frames.
    EXPECT_EQ(GoodFrames(p.commands), 39);
}

TEST(SimReplay, GeneratedScriptIsRawTrafficOnly) {
    std::string text = ReplayScript();
    ExpectPlayable(text);
    EXPECT_NE(text.find("# Totals: 41 tag messages, 6 of them malformed; 47 records"), std::string::npos);
    for (const char* kind : {"format1", "diag3", "short", "cut", "checksum", "length4"}) {
        EXPECT_NE(text.find(std::string("# malformed, ") + kind + ":"), std::string::npos) << kind;
    }
}

TEST(SimReplay, CommittedRecordingIsPlayable) {
    std::ifstream in(REPLAY_FILE);
    ASSERT_TRUE(in) << REPLAY_FILE;
    std::stringstream text;
    text << in.rdbuf();
    ExpectPlayable(text.str());
}

}  // namespace
