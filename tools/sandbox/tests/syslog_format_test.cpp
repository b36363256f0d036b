#include <gtest/gtest.h>

#include "syslog_sink.h"

TEST(SyslogFormat, TakesPriorityAndDropsTimestamp) {
    SyslogMessage m = ParseSyslogDatagram("<15>Dec  8 06:24:01 Tarnel[42]: Application started!!!");
    EXPECT_EQ(m.priority, 15);
    EXPECT_EQ(m.text, "Tarnel[42]: Application started!!!");
}

TEST(SyslogFormat, TwoDigitDay) {
    SyslogMessage m = ParseSyslogDatagram("<11>Jan 31 23:59:59 Tarnel[7]: x");
    EXPECT_EQ(m.priority, 11);
    EXPECT_EQ(m.text, "Tarnel[7]: x");
}

TEST(SyslogFormat, EscapesNewlines) {
    SyslogMessage m = ParseSyslogDatagram("<11>Jan 31 23:59:59 T[1]: a\n b\n");
    EXPECT_EQ(m.text, "T[1]: a\\n b\\n");
}

TEST(SyslogFormat, KeepsTextWithoutTimestamp) {
    SyslogMessage m = ParseSyslogDatagram("<14>no time here");
    EXPECT_EQ(m.priority, 14);
    EXPECT_EQ(m.text, "no time here");
}

TEST(SyslogFormat, KeepsWholeTextWithoutPriority) {
    for (const char* odd : {"plain words", "<abc>Dec  8 06:24:01 x", "<>x", "<12345>x", ""}) {
        SyslogMessage m = ParseSyslogDatagram(odd);
        EXPECT_EQ(m.priority, 13) << odd;
        EXPECT_EQ(m.text, odd);
    }
}

TEST(SyslogFormat, DropsTrailingNul) {
    using namespace std::string_view_literals;
    SyslogMessage m = ParseSyslogDatagram("<13>Dec  8 06:24:01 T: x\0"sv);
    EXPECT_EQ(m.text, "T: x");
}

TEST(SyslogFormat, LineHasTimePriorityAndText) {
    SyslogMessage m{6, "Tarnel[3]: hi"};
    EXPECT_EQ(FormatSyslogLine(12.5, m), "12.500000 6 Tarnel[3]: hi");
}

TEST(SyslogFormat, LevelNamesFromLowBits) {
    EXPECT_STREQ(SyslogLevelName(11), "err");
    EXPECT_STREQ(SyslogLevelName(14), "info");
    EXPECT_STREQ(SyslogLevelName(15), "debug");
    EXPECT_STREQ(SyslogLevelName(8), "emerg");
    EXPECT_STREQ(SyslogLevelName(12), "warning");
}
