// The link to the RTC end to end: the real daemon in the sandbox with both
// simulators, the RTC simulator printing JSON lines.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "rtc_record.h"

namespace {

constexpr int kBound = 60;
const std::string kMac = "4822678189205111";  // 00:11:22:33:44:55:66:77

SandboxOptions RtcOptions(std::vector<std::string> rtcArgs) {
    SandboxOptions options;
    options.seconds = 120;
    options.daemonArgs = {"-m", kMac};
    options.rtcArgs = {"--json"};
    options.rtcArgs.insert(options.rtcArgs.end(), rtcArgs.begin(), rtcArgs.end());
    return options;
}

bool WaitForKind(SandboxRun& run, const std::string& dir, const std::string& kind, size_t skip = 0) {
    return run.WaitForRtcLine("\"dir\":\"" + dir + "\",\"envelope\":[0-9]+,\"kind\":\"" + kind + "\"", kBound, skip);
}

size_t CountKind(const SandboxRun& run, const std::string& dir, const std::string& kind) {
    size_t n = 0;
    for (const RtcLine& line : RtcLines(run)) n += line.dir == dir && line.kind == kind;
    return n;
}

uint64_t HeaderIndex(const RtcLine& line) {
    std::smatch m;
    static const std::regex index("\"message_header\":\\{\"message_index\":\"([0-9]+)\"");
    return std::regex_search(line.message, m, index) ? std::stoull(m[1]) : 0;
}

TEST(Rtc, DiscoversPairsWithItsIdentifierAndKeepsAliveWithIndexZero) {
    SandboxRun run;
    run.Start(RtcOptions({"--keep-alive", "2"}));
    ASSERT_TRUE(WaitForKind(run, "recv", "KEEPALIVE", 1));

    auto lines = RtcLines(run);
    auto pairing = Received(lines, "READERPAIRING");
    ASSERT_FALSE(pairing.empty());
    EXPECT_NE(pairing[0].message.find("\"reader_mac_address\":\"" + kMac + "\""), std::string::npos);
    for (const RtcLine& line : Received(lines, "KEEPALIVE")) {
        ZemloReaderDataPackage keepAlive;
        ASSERT_TRUE(ParseMessage(line, &keepAlive)) << line.message;
        EXPECT_TRUE(keepAlive.message_header().has_message_index()) << line.message;
        EXPECT_EQ(keepAlive.tags_data_size(), 0);
        EXPECT_GT(keepAlive.message_header().send_timestamp(), 0u);
    }
    EXPECT_TRUE(DeliveredRecords(lines).empty()) << "no tags, no tag records; only reports";
    // The sandbox withholds CAP_SYS_TIME: the clock stays, the pairing holds.
    EXPECT_FALSE(run.MatchingLines(run.SyslogPath(), "RTCListener:  Failed on settimeofday \\(").empty());
    EXPECT_EQ(ReadFile(run.WorkDir() + "/RTC_IP_Adress.txt"), "127.0.0.1");
}

// The RTC's messages that carry an index, and the answer they need.
class Acknowledgements : public testing::TestWithParam<bool> {};

TEST_P(Acknowledgements, AnsweredOnlyWhenThePairingNamedNoProtocolVersion) {
    const bool versioned = GetParam();
    SandboxRun run;
    // Only the persist acknowledgement asked for below: the reader's own
    // reports get none.
    std::vector<std::string> args = {"--keep-alive", "5", "--no-persist-ack"};
    if (versioned) args.insert(args.end(), {"--protocol-version", "1.2.3"});
    run.Start(RtcOptions(args));
    ASSERT_TRUE(WaitForKind(run, "sent", "RTCPAIRACK"));
    for (const char* line : {"command RunBIT", "readerparams", "persistack 42"}) ASSERT_TRUE(run.RtcControl(line));
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "RTCListener: Received RTCPERSISTACK", kBound));
    // A keep-alive follows a whole sender pass after the three were handled.
    ASSERT_TRUE(WaitForKind(run, "recv", "KEEPALIVE", CountKind(run, "recv", "KEEPALIVE")));

    auto lines = RtcLines(run);
    std::vector<uint64_t> asked, acked;
    for (const RtcLine& line : lines) {
        if (line.dir == "sent" && (line.kind == "RTCCOMMAND" || line.kind == "RTCSETREADERPARAM" ||
                                   line.kind == "RTCPERSISTACK")) {
            asked.push_back(HeaderIndex(line));
        }
    }
    for (const RtcLine& line : Received(lines, "READERMSGACK")) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(line.message, m, std::regex("\"ack_message_index\":\"([0-9]+)\"")));
        acked.push_back(std::stoull(m[1]));
    }
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(acked, versioned ? std::vector<uint64_t>{} : asked);
}

INSTANTIATE_TEST_SUITE_P(Rtc, Acknowledgements, testing::Bool(),
                         [](const auto& info) { return info.param ? "WithProtocolVersion" : "WithoutProtocolVersion"; });

struct StreamCase {
    const char* name;
    std::vector<const char*> commands;
    bool drops;  // the reader must drop the connection and come back
    // The simulator's line that shows every byte of the case is queued,
    // when it writes them over time; nothing may overtake them.
    const char* queued;
};

void PrintTo(const StreamCase& c, std::ostream* out) { *out << c.name; }

class Stream : public testing::TestWithParam<StreamCase> {};

TEST_P(Stream, SplitOrUnhandledEnvelopesKeepTheConnectionBadHeadersDropIt) {
    const StreamCase& c = GetParam();
    SandboxRun run;
    run.Start(RtcOptions({"--keep-alive", "5"}));
    ASSERT_TRUE(WaitForKind(run, "sent", "RTCPAIRACK"));
    for (const char* command : c.commands) ASSERT_TRUE(run.RtcControl(command));
    if (c.queued) {
        ASSERT_TRUE(run.WaitForRtcLine(c.queued, kBound));
    }
    if (c.drops) {
        ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "RTCListener: (invalid envelope header|a message longer than)",
                                    kBound));
        ASSERT_TRUE(WaitForKind(run, "sent", "RTCPAIRACK", 1)) << "the reader came back and paired again";
    }
    // A command whose acknowledgement shows that it was read whole.
    ASSERT_TRUE(run.RtcControl("command RunBIT"));
    ASSERT_TRUE(WaitForKind(run, "recv", "READERMSGACK", c.drops ? 0 : 1));
    auto lines = RtcLines(run);
    EXPECT_EQ(CountEvents(lines, "BAD"), 0u);
    EXPECT_EQ(Received(lines, "READERPAIRING").size() > 1, c.drops);
}

// Envelope 17, a command, is one the reader handles: 4 GB of it cost the
// connection. Envelope 12 is not: 70000 bytes of it are passed over.
INSTANTIATE_TEST_SUITE_P(
    Rtc, Stream,
    testing::Values(StreamCase{"Split", {"split 300 command RunBIT"}, false, nullptr},
                    StreamCase{"Garbage", {"raw ff ff ff ff ff ff ff ff ff ff ff ff"}, true, nullptr},
                    StreamCase{"FourGigabytes", {"header 17 4294967295"}, true, nullptr},
                    StreamCase{"UnhandledOverTheBound",
                               {"header 12 70000", "flood 7000 raw 00 00 00 00 00 00 00 00 00 00"},
                               false,
                               "\"event\":\"FLOOD_DONE\""}),
    [](const auto& info) { return info.param.name; });

// Tags keep data packages and their acknowledgements flowing until the
// RTC stops reading for longer than twice the keep-alive interval.
TEST(Rtc, ReadTimeOutDropsTheLinkAndABroadcastRestoresIt) {
    SandboxRun run;
    SandboxOptions options = RtcOptions({"--keep-alive", "5"});
    options.simArgs = {"--tag-rate", "10"};
    run.Start(options);
    ASSERT_TRUE(WaitForKind(run, "recv", "READERDATAPACKAGE"));
    const std::string timeOut = "ReadRTCData: nothing from the RTC for 10000 ms, dropping the link";
    const size_t drops = run.MatchingLines(run.SyslogPath(), timeOut).size();
    const size_t pairings = CountKind(run, "sent", "RTCPAIRACK");
    ASSERT_TRUE(run.RtcControl("pause"));
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), timeOut, kBound, drops));
    ASSERT_TRUE(run.RtcControl("resume"));
    const size_t packages = Received(RtcLines(run), "READERDATAPACKAGE").size();
    ASSERT_TRUE(WaitForKind(run, "sent", "RTCPAIRACK", pairings));
    ASSERT_TRUE(WaitForKind(run, "recv", "READERDATAPACKAGE", packages)) << "data flows again";
    EXPECT_EQ(CountEvents(RtcLines(run), "BAD"), 0u);
}

// At a short keep-alive interval and a trickle of tags the package being
// assembled is rarely full: the reader must still write something every
// interval, or the RTC, which only answers, leaves the link silent for
// twice the interval and the reader drops it.
TEST(Rtc, ATrickleOfTagsAtATwoSecondKeepAliveKeepsTheLinkUp) {
    SandboxRun run;
    SandboxOptions options = RtcOptions({"--keep-alive", "2"});
    options.simArgs = {"--tag-rate", "5"};
    run.Start(options);
    ASSERT_TRUE(WaitForKind(run, "recv", "READERDATAPACKAGE", 10)) << "some 30 s of traffic";
    EXPECT_TRUE(run.MatchingLines(run.SyslogPath(), "ReadRTCData: nothing from the RTC").empty());
    EXPECT_EQ(CountKind(run, "sent", "RTCPAIRACK"), 1u);
}

// The LED word's RTC bit follows the backbone's link state, which the
// serial listener's housekeeping gets through a hook wired at start-up.
TEST(Rtc, WhilePairedTheLedWordShowsTheLink) {
    SandboxRun run;
    run.Start(RtcOptions({"--keep-alive", "2"}));
    ASSERT_TRUE(WaitForKind(run, "recv", "KEEPALIVE"));
    // The backbone marks the link up within a second of pairing; LED words
    // go out two seconds apart, so the third from now is late enough.
    const size_t before = HostFrames(run, 38).size();
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "FRAME op=38 ", kBound, before + 2));
    const std::vector<SerialFrame> leds = HostFrames(run, 38);
    ASSERT_EQ(leds.back().data.size(), 1u);
    EXPECT_EQ(leds.back().data[0] & 0x40, 0x40);
}

}  // namespace
