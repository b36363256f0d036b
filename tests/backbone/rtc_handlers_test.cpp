// Each handler through a context of recording fakes.
#include "backbone/rtc_handlers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "RtcAcknowledgePersistedTagData.pb.h"
#include "RtcClockSync.pb.h"
#include "RtcCommandToReader.pb.h"
#include "RtcPairingACK.pb.h"
#include "RtcSetTagsParameters.pb.h"
#include "backbone/backbone_iface.h"
#include "backbone/envelope.h"
#include "backbone/envelope_stream.h"
#include "backbone/msg_queue.h"
#include "support/scratch_dir.h"

namespace {

struct Seen {
    std::vector<std::string> calls;
    std::vector<uint64_t> acks;
    std::vector<timeval> clocks;
    int clockResult = 0;
};
Seen seen;

void KeepAlive(int seconds) { seen.calls.push_back("keep-alive " + std::to_string(seconds)); }
void DataTime(long seconds) { seen.calls.push_back("data time " + std::to_string(seconds)); }
void Ack(uint64_t index) { seen.acks.push_back(index); }
int Clock(const timeval& time) {
    seen.clocks.push_back(time);
    seen.calls.push_back("clock");
    errno = EPERM;
    return seen.clockResult;
}
void TagParams(const RFTagParametersInformation& params) {
    seen.calls.push_back("tag params site " + std::to_string(params.site_id()));
}
void Command(unsigned command) { seen.calls.push_back("command " + std::to_string(command)); }
void Persisted(const std::vector<uint64_t>& indexes) {
    for (uint64_t i : indexes) seen.calls.push_back("persisted " + std::to_string(i));
}

// The build time the handlers are given: 1 January 2020.
constexpr long long kFloorSeconds = 1577836800;

class HandlersTest : public ::testing::Test {
protected:
    void SetUp() override {
        seen = Seen();
        link_.SetRTCCommState(RTC_CONNECTED);
    }
    // Hands the envelopes to their handlers as the listener does.
    void Receive(const std::string& stream) {
        EnvelopeStream envelopes(HandlesRTCEnvelope);
        envelopes.Feed(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), Dispatch, &context_);
    }
    static void Dispatch(void* context, uint32_t number, const uint8_t* message, uint32_t length) {
        if (RTCHandler handler = FindRTCHandler(number)) handler(*static_cast<RTCHandlerContext*>(context), message, length);
    }
    static std::string Pack(uint32_t number, const google::protobuf::MessageLite& message) {
        std::string bytes;
        AppendEnvelope(number, message, &bytes);
        return bytes;
    }
    static std::string PairAck(bool withVersion, uint64_t millis) {
        RtcPairingACK ack;
        ack.set_keep_alive_interval_seconds(5);
        ack.set_rtc_timestamp(millis);
        if (withVersion) ack.mutable_protocolversion()->set_major(2);
        return Pack(RTCPAIRACK, ack);
    }
    static std::string CommandMsg(uint64_t index) {
        RtcCommandToReader command;
        command.set_command(RtcCommandToReader::StartChannelSurvey);
        command.mutable_message_header()->set_message_index(index);
        return Pack(RTCCOMMAND_FIELDNUM, command);
    }

    ScratchDir dir_{"rtc_handlers_", ScratchDir::Cwd::Enter};
    OutgoingQueue queue_;
    BackBoneIface link_{queue_};
    RTCHandlerContext context_{&link_,    KeepAlive, DataTime,      Ack,      Clock, nullptr,
                               TagParams, Command,   kFloorSeconds, Persisted};
};

TEST_F(HandlersTest, PairAckSetsTheClockPairsAndDecidesOnAcknowledgements) {
    struct Case {
        bool withVersion;
        std::vector<uint64_t> acks;
    } cases[] = {{false, {77}}, {true, {}}};
    for (const Case& c : cases) {
        seen = Seen();
        seen.clockResult = -1;  // no right to set the time: harmless
        link_.SetRTCCommState(RTC_CONNECTED);
        Receive(PairAck(c.withVersion, 1700000000123ull) + CommandMsg(77));
        EXPECT_EQ(link_.GetRTCCommState(), RTC_PAIRED);
        EXPECT_EQ(NeedToSendACK.load(), !c.withVersion);
        EXPECT_EQ(seen.acks, c.acks);
        ASSERT_EQ(seen.clocks.size(), 1u);
        EXPECT_EQ(seen.clocks[0].tv_sec, 1700000000);
        EXPECT_EQ(seen.clocks[0].tv_usec, 123000);
        EXPECT_EQ(seen.calls, (std::vector<std::string>{"keep-alive 5", "data time 1700000000", "clock", "command 1"}));
        link_.SetPaired(false);
    }
}

// However long or short the interval an RTC asks for, the reader keeps
// sending between once a second and once an hour.
TEST_F(HandlersTest, PairAckKeepAliveIsTakenBetweenOneSecondAndAnHour) {
    const struct {
        uint32_t given;
        int taken;
    } cases[] = {{5, 5}, {0, 1}, {3600, 3600}, {3601, 3600}, {4294967295u, 3600}};
    for (const auto& c : cases) {
        seen = Seen();
        link_.SetRTCCommState(RTC_CONNECTED);
        RtcPairingACK ack;
        ack.set_keep_alive_interval_seconds(c.given);
        Receive(Pack(RTCPAIRACK, ack));
        ASSERT_FALSE(seen.calls.empty()) << c.given;
        EXPECT_EQ(seen.calls[0], "keep-alive " + std::to_string(c.taken)) << c.given;
        EXPECT_EQ(link_.GetRTCCommState(), RTC_PAIRED) << c.given;
        link_.SetPaired(false);
    }
}

TEST_F(HandlersTest, ClockSyncAfterPairAckIsHandledInOrderAndNotAcknowledged) {
    RtcClockSync sync;
    sync.set_rtc_timestamp(1800000000999ull);
    Receive(PairAck(false, 1700000000000ull) + Pack(RTCCLOCKSYNC, sync) + Pack(RTCCLOCKSYNC, RtcClockSync()));
    EXPECT_EQ(seen.calls, (std::vector<std::string>{"keep-alive 5", "data time 1700000000", "clock",
                                                    "data time 1800000000", "clock"}))
        << "a clock sync without a time leaves the clock alone";
    EXPECT_TRUE(seen.acks.empty());
}

// An RTC's time before the build touches neither the clock nor the queue;
// the pairing completes all the same. The build time itself is taken.
TEST_F(HandlersTest, ATimeBeforeTheBuildIsRefusedAndThePairingStillCompletes) {
    RtcClockSync early, atFloor;
    early.set_rtc_timestamp(kFloorSeconds * 1000 - 1);
    atFloor.set_rtc_timestamp(kFloorSeconds * 1000);
    Receive(PairAck(false, 315532800000ull) + Pack(RTCCLOCKSYNC, early) + Pack(RTCCLOCKSYNC, atFloor));
    EXPECT_EQ(link_.GetRTCCommState(), RTC_PAIRED);
    EXPECT_EQ(seen.calls,
              (std::vector<std::string>{"keep-alive 5", "data time " + std::to_string(kFloorSeconds), "clock"}));
}

TEST_F(HandlersTest, TagParamsApplyTheFirstEntryAndRefuseNone) {
    NeedToSendACK = true;
    RtcSetTagsParameters params;
    params.mutable_message_header()->set_message_index(9);
    Receive(Pack(RTCSETTAGPARAM, params));
    EXPECT_TRUE(seen.calls.empty()) << "no entry: refused";
    EXPECT_TRUE(seen.acks.empty());
    params.add_tags_params_info()->mutable_tag_params_info()->set_site_id(1);
    params.add_tags_params_info()->mutable_tag_params_info()->set_site_id(2);
    Receive(Pack(RTCSETTAGPARAM, params));
    EXPECT_EQ(seen.calls, (std::vector<std::string>{"tag params site 1"}));
    EXPECT_EQ(seen.acks, (std::vector<uint64_t>{9}));
}

TEST_F(HandlersTest, PersistAckIsAcknowledgedAndUnknownNumbersAreSkipped) {
    NeedToSendACK = true;
    Receive(std::string("\x62\x07" "1234567", 9) + std::string("\x5A\x05\xC2\x3E\x02\x08\x2A", 7));
    EXPECT_EQ(seen.acks, (std::vector<uint64_t>{42})) << "envelope 12 skipped, the persist ack's index 42 queued";
    EXPECT_TRUE(seen.calls.empty()) << "it names no package";
}

TEST_F(HandlersTest, PersistAckHandsOverThePackagesItNames) {
    RtcAcknowledgePersistedTagData persisted;
    for (uint64_t i : {7u, 9u}) persisted.add_persisted_message_numbers(i);
    Receive(Pack(RTCPERSISTACK, persisted));
    EXPECT_EQ(seen.calls, (std::vector<std::string>{"persisted 7", "persisted 9"}));
}

}  // namespace
