#include "params/rf_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "params/rf_settings_file.h"
#include "support/scratch_dir.h"
#include "support/text_file.h"

namespace {



// Each case runs in its own process; files go to a fresh directory.
class RFSettingsFileTest : public ::testing::Test {
protected:
    ScratchDir workingDir_{"tarnel-rf-", ScratchDir::Cwd::Enter};
};

TEST(ParseNumStr, NumbersAndNotNumbers) {
    EXPECT_EQ(ParseNumStr("12\n"), 12);
    EXPECT_EQ(ParseNumStr("  -6"), -6);
    EXPECT_EQ(ParseNumStr("+15 dBm"), 15);
    EXPECT_EQ(ParseNumStr("2147483647"), 2147483647);
    EXPECT_EQ(ParseNumStr("abc"), kInvalidNum);
    EXPECT_EQ(ParseNumStr(""), kInvalidNum);
    EXPECT_EQ(ParseNumStr("-"), kInvalidNum);
    EXPECT_EQ(ParseNumStr(nullptr), kInvalidNum);
}

// The same on a 32-bit and a 64-bit long: beyond 32 bits is an overflow.
TEST(ParseNumStr, NumbersBeyondThirtyTwoBitsAreInvalid) {
    EXPECT_EQ(ParseNumStr("2147483648"), kInvalidNum);
    EXPECT_EQ(ParseNumStr("4294967296"), kInvalidNum);
    EXPECT_EQ(ParseNumStr("-2147483649"), kInvalidNum);
    EXPECT_EQ(ParseNumStr("99999999999999999999999"), kInvalidNum);
}

TEST(ParseFreq, FrequenciesAndNotFrequencies) {
    EXPECT_EQ(ParseFreq("903.1\n"), 903.1f);
    EXPECT_EQ(ParseFreq(" 868.3 MHz"), 868.3f);
    EXPECT_EQ(ParseFreq("0"), 0.0f);
    for (const char* bad : {"", "abc", "\n", "1e50", "-1e50", "nan", "inf", "-inf", "1e-50"}) {
        EXPECT_TRUE(std::isinf(ParseFreq(bad)) && ParseFreq(bad) > 0) << bad;
    }
    EXPECT_TRUE(std::isinf(ParseFreq(nullptr)));
}

TEST(RFSettingLine, KindAndRadioAreFoundAnywhereInTheirFields) {
    RFSettingLine line;
    ASSERT_TRUE(ParseRFSettingLine("F,2,903.1", &line));
    EXPECT_EQ(line.kind, RFSettingKind::Freq);
    EXPECT_EQ(line.radio, 1);
    EXPECT_EQ(line.value, "903.1");

    ASSERT_TRUE(ParseRFSettingLine(" PF , radio 1,5", &line));
    EXPECT_EQ(line.kind, RFSettingKind::Freq) << "F wins over P";
    EXPECT_EQ(line.radio, 0);

    ASSERT_TRUE(ParseRFSettingLine("P,12,5,extra", &line));
    EXPECT_EQ(line.kind, RFSettingKind::Power);
    EXPECT_EQ(line.radio, 0) << "1 wins over 2";
    EXPECT_EQ(line.value, "5");
}

TEST(RFSettingLine, UnknownKindOrRadioAndShortLinesAreSkipped) {
    RFSettingLine line;
    EXPECT_FALSE(ParseRFSettingLine("X,1,5", &line));
    EXPECT_FALSE(ParseRFSettingLine("P,3,5", &line));
    EXPECT_FALSE(ParseRFSettingLine("P,1", &line));
    EXPECT_FALSE(ParseRFSettingLine("", &line));
    EXPECT_FALSE(ParseRFSettingLine("f,1,907", &line)) << "the kinds are capitals";
}

TEST(RFSettingsText, TheExampleStateGivesFourLines) {
    EXPECT_EQ(FormatRFSettings(15, 15, 907.0f, 907.0f), "P,1,15\nP,2,15\nF,1,907.000000\nF,2,907.000000\n");
}

TEST(RFSettingsText, UnsetValuesAreLeftOut) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(FormatRFSettings(kPowerNotSet, -6, inf, 903.1f), "P,2,-6\nF,2,903.099976\n");
    EXPECT_EQ(FormatRFSettings(0, kPowerNotSet, std::numeric_limits<float>::quiet_NaN(), -inf), "P,1,0\n");
}

TEST_F(RFSettingsFileTest, ASaveThatCannotBeWrittenLeavesTheOldFile) {
    WriteText(RFSettingFilePath, "P,1,5\n");
    ASSERT_EQ(mkdir(".//RF_SettingFile.txt.tmp", 0700), 0);
    SaveRFSettings();
    EXPECT_EQ(ReadText(RFSettingFilePath), "P,1,5\n");
}

TEST_F(RFSettingsFileTest, ParseNumReadsOneLineAndDropsTheRestOfALongOne) {
    WriteText("input", std::string("12\n123456789012345678\n5\0x\n7\n", 28));
    ASSERT_NE(std::freopen("input", "r", stdin), nullptr);
    EXPECT_EQ(ParseNum(), 12);
    EXPECT_EQ(ParseNum(), kInvalidNum) << "14 characters read, beyond 32 bits";
    EXPECT_EQ(ParseNum(), 5) << "a NUL byte does not hide the line end";
    EXPECT_EQ(ParseNum(), 7) << "the rest of the long line was dropped";
    EXPECT_EQ(ParseNum(), kInvalidNum) << "end of input";
}

}  // namespace
