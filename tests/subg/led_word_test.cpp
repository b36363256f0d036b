#include "subg/led_word.h"

#include <gtest/gtest.h>

namespace {

LedInputs Healthy() { return {-50, true, true, 1, false}; }

TEST(LedWord, WifiLevelsFollowTheSignal) {
    EXPECT_EQ(WifiLevelBits(-1), 0);
    EXPECT_EQ(WifiLevelBits(-91), 8);
    EXPECT_EQ(WifiLevelBits(-90), 12);
    EXPECT_EQ(WifiLevelBits(-81), 12);
    EXPECT_EQ(WifiLevelBits(-80), 14);
    EXPECT_EQ(WifiLevelBits(-75), 14);
    EXPECT_EQ(WifiLevelBits(-60), 15);
}

TEST(LedWord, TheRtcBitFollowsTheLink) {
    LedInputs in = Healthy();
    EXPECT_EQ(NextLedsWord(0x10, in) & LedBit::RtcLink, LedBit::RtcLink);
    in.rtcConnected = false;
    EXPECT_EQ(NextLedsWord(0xFF, in) & LedBit::RtcLink, 0);
}

TEST(LedWord, RecentTagsLightTheTagBitAndKeepTheTrafficBit) {
    uint8_t word = NextLedsWord(0x80 | LedBit::Blink, Healthy());
    EXPECT_EQ(word & (LedBit::TagsHeard | LedBit::Blink | LedBit::TagTraffic), LedBit::TagsHeard | LedBit::TagTraffic);
    EXPECT_EQ(word & LedBit::WifiMask, 15);
}

TEST(LedWord, TimedOutTagsBlinkAndDropTheTrafficBit) {
    LedInputs in = Healthy();
    in.secondsSinceTagMessage = 700;
    in.tagCommTimeout = true;
    uint8_t first = NextLedsWord(0x90, in);
    EXPECT_EQ(first & (LedBit::TagsHeard | LedBit::TagTraffic), 0);
    uint8_t second = NextLedsWord(first, in);
    EXPECT_NE(first & LedBit::Blink, second & LedBit::Blink);
}

TEST(LedWord, QuietButNotTimedOutIsSteady) {
    LedInputs in = Healthy();
    in.secondsSinceTagMessage = 10;
    uint8_t word = NextLedsWord(0xB0, in);
    EXPECT_EQ(word & (LedBit::TagsHeard | LedBit::Blink | LedBit::TagTraffic), LedBit::TagsHeard);
}

TEST(LedWord, NoSdCardBlinksAndFadesTheTrafficBit) {
    LedInputs in = Healthy();
    in.sdCardPresent = false;
    in.secondsSinceTagMessage = 2;
    uint8_t word = NextLedsWord(0x90, in);
    EXPECT_EQ(word & (LedBit::TagsHeard | LedBit::Blink | LedBit::TagTraffic), LedBit::Blink | LedBit::TagTraffic);
    in.secondsSinceTagMessage = 4;
    EXPECT_EQ(NextLedsWord(word, in) & (LedBit::Blink | LedBit::TagTraffic), 0);
}

}  // namespace
