#include "tools/subgsim/sim_events.h"

#include <gtest/gtest.h>

#include "tools/subgsim/sim_state.h"

namespace {

TEST(RecordBody, FormatsFramesAndReplies) {
    const uint8_t data[2] = {0x0a, 0xff};
    EXPECT_EQ(RecordBody::Frame(MakeRequest(20)), "FRAME op=20 len=5 addr=1 data=");
    EXPECT_EQ(RecordBody::Frame(MakeRequest(2, data, 2, 0xfd)), "FRAME op=2 len=7 addr=253 data=0a ff");
    EXPECT_EQ(RecordBody::Sent(MakeReply(20, data, 2)), "SENT op=20 len=7 data=0a ff");
}

TEST(RecordBody, FormatsTheOtherEvents) {
    EXPECT_EQ(RecordBody::Raw({0x01, 0x02}), "RAW len=2 bytes=01 02");
    EXPECT_EQ(RecordBody::Bad({0xaa}), "BAD bytes=aa");
    EXPECT_EQ(RecordBody::Ignored(7), "IGNORED len=7");
    EXPECT_EQ(RecordBody::ResetLow(), "RESET low");
    EXPECT_EQ(RecordBody::ResetHigh(500), "RESET high low_ms=500");
}

TEST(RecordBody, FormatsTheBoardStateAndControlLines) {
    BoardState state;
    EXPECT_EQ(RecordBody::State(state),
              "STATE freq0=907.000 freq1=907.000 power0=127 power1=127 steady=300 region=0 channel=0 table=15 diag=0");
    state.freq[1] = 868.3f;
    state.steadySeconds = 4000000000u;
    state.table = {868.3f};
    EXPECT_EQ(RecordBody::State(state),
              "STATE freq0=907.000 freq1=868.300 power0=127 power1=127 steady=4000000000 region=0 channel=0 table=1 "
              "diag=0");
    EXPECT_EQ(RecordBody::Control("never 20"), "CONTROL never 20");
    EXPECT_EQ(RecordBody::ControlError("x: unknown command 'x'"), "CONTROL-ERROR x: unknown command 'x'");
}

TEST(OpcodeName, NamesApplicationOpcodesAndNumbersTheRest) {
    EXPECT_EQ(OpcodeName(20), "get software version");
    EXPECT_EQ(OpcodeName(29), "tag firmware block");
    EXPECT_EQ(OpcodeName(47), "MEMS filter parameters");
    EXPECT_EQ(OpcodeName(19), "opcode 19");
    EXPECT_EQ(OpcodeName(200), "opcode 200");
}

}  // namespace
