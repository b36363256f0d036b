#include "tools/subgsim/sim_state.h"

#include <gtest/gtest.h>

namespace {

void ExpectEncoded(float mhz, uint16_t wantMhz, uint16_t wantKhz) {
    WireFrequency f = EncodeFrequency(mhz);
    EXPECT_EQ(f.mhz, wantMhz) << mhz;
    EXPECT_EQ(f.khz, wantKhz) << mhz;
}

TEST(SimFrequency, EncodesWholeMegahertzAndKilohertz) {
    ExpectEncoded(868.3f, 868, 300);
    ExpectEncoded(915.5f, 915, 500);
    ExpectEncoded(907.0f, 907, 0);
    ExpectEncoded(0.0f, 0, 0);
}

TEST(SimFrequency, DecodesToTheSameSinglePrecisionValues) {
    EXPECT_EQ(DecodeFrequency(868, 300), 868.3f);
    EXPECT_EQ(DecodeFrequency(915, 500), 915.5f);
    EXPECT_EQ(DecodeFrequency(907, 0), 907.0f);
    EXPECT_NE(DecodeFrequency(868, 299), 868.3f);
}

TEST(SimFrequency, EveryBuiltInChannelSurvivesTheRoundTrip) {
    for (uint8_t region = 0; region < 3; ++region) {
        for (float mhz : BuiltInChannelTable(region)) {
            WireFrequency f = EncodeFrequency(mhz);
            EXPECT_EQ(DecodeFrequency(f.mhz, f.khz), mhz) << mhz;
        }
    }
}

TEST(SimFrequency, ClampsWhatDoesNotFitOnTheWire) {
    ExpectEncoded(-5.0f, 0, 0);
    ExpectEncoded(1e9f, 65535, 999);
}

TEST(BoardState, StartsOnChannelZeroOfRegionZero) {
    BoardState s;
    EXPECT_EQ(s.freq[0], 907.0f);
    EXPECT_EQ(s.freq[1], 907.0f);
    EXPECT_EQ(s.power[0], 0x7F);
    EXPECT_EQ(s.steadySeconds, 300u);
    EXPECT_EQ(s.table.size(), 15u);
    EXPECT_EQ(s.paramCheck, 1);
    EXPECT_EQ(BuiltInChannelTable(1).size(), 6u);
    EXPECT_EQ(BuiltInChannelTable(2).size(), 5u);
    EXPECT_TRUE(BuiltInChannelTable(3).empty());
}

TEST(BoardState, ForgetsOneFrequency) {
    BoardState s;
    ForgetFrequency(&s, 1);
    EXPECT_EQ(s.freq[0], 907.0f);
    EXPECT_EQ(s.freq[1], 0.0f);
    ForgetFrequency(&s, 2);
    EXPECT_EQ(s.freq[0], 907.0f);
}

TEST(BoardState, ForgetsTheSteadyStateInterval) {
    BoardState s;
    ForgetSteadyState(&s);
    EXPECT_EQ(s.steadySeconds, 0u);
    EXPECT_EQ(s.freq[0], 907.0f);
}

TEST(BoardState, ForgetsAllItsParameters) {
    BoardState s;
    s.region = 2;
    s.channel = 3;
    s.diagMinutes = 60;
    s.ledWord = 0x90;
    s.paramCheck = 0;
    ForgetAll(&s);
    EXPECT_EQ(s.freq[0], 0.0f);
    EXPECT_EQ(s.freq[1], 0.0f);
    EXPECT_EQ(s.power[0], 0);
    EXPECT_EQ(s.power[1], 0);
    EXPECT_EQ(s.steadySeconds, 0u);
    EXPECT_EQ(s.region, 0);
    EXPECT_EQ(s.channel, 0);
    EXPECT_TRUE(s.table.empty());
    EXPECT_EQ(s.diagMinutes, 0);
    EXPECT_EQ(s.ledWord, 0x90) << "the LED word is no stored parameter";
    EXPECT_EQ(s.paramCheck, 0) << "only its own command sets the check's answer";
}

TEST(SimLedWord, NamesTheSetBitsAndTheWifiLevel) {
    EXPECT_EQ(DescribeLedWord(0x90), "tags, traffic, wifi 0");
    EXPECT_EQ(DescribeLedWord(0x6e), "blink, rtc, wifi 14");
    EXPECT_EQ(DescribeLedWord(0x00), "wifi 0");
}

}  // namespace
