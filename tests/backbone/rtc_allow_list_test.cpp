#include "backbone/rtc_allow_list.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(RTCAllowList, EntriesAreAcceptedOnlyInTheirOneSpelling) {
    const struct {
        const char* entry;
        bool accepted;
    } cases[] = {
        {"192.168.1.10", true},
        {"192.168.1.10:53010", true},
        {"10.0.0.1:1", true},
        {"10.0.0.1:65535", true},
        {"", false},
        {":53010", false},
        {"192.168.1", false},
        {"192.168.1.10.5", false},
        {"192.168.1.256", false},
        {"192.168.01.10", false},  // would be octal to inet_aton
        {"0x7f.0.0.1", false},
        {"rtc.farm", false},
        {" 192.168.1.10", false},
        {"192.168.1.10 ", false},
        {"192.168.1.10:", false},
        {"192.168.1.10:0", false},
        {"192.168.1.10:65536", false},
        {"192.168.1.10:053010", false},  // six digits
        {"192.168.1.10:+80", false},
        {"192.168.1.10:80x", false},
        {"192.168.1.10:80:81", false},
        {"192.168.1.10:-1", false},
        {"0.0.0.0", false},
        {"255.255.255.255:53010", false},
        {"::1", false},
        {"1111111111111111.1.1.1", false},
    };
    for (const auto& c : cases) {
        RTCAllowList list;
        EXPECT_EQ(list.Add(c.entry), c.accepted) << '"' << c.entry << '"';
        EXPECT_EQ(list.Empty(), !c.accepted) << '"' << c.entry << '"';
    }
}

TEST(RTCAllowList, ADatagramIsAdmittedByItsSourceAndAnnouncedPort) {
    RTCAllowList list;
    ASSERT_TRUE(list.Add("192.168.1.10"));
    ASSERT_TRUE(list.Add("192.168.1.20:53010"));
    EXPECT_EQ(list.Describe(), "192.168.1.10, 192.168.1.20:53010");
    const struct {
        const char* source;
        uint16_t port;
        bool admitted;
    } cases[] = {
        {"192.168.1.10", 53010, true},  // any port
        {"192.168.1.10", 4000, true},
        {"192.168.1.20", 53010, true},
        {"192.168.1.20", 53011, false},  // another port
        {"192.168.1.11", 53010, false},
        {"10.192.168.1", 53010, false},
        {"", 53010, false},
    };
    for (const auto& c : cases) EXPECT_EQ(list.Admits(c.source, c.port), c.admitted) << c.source << ":" << c.port;
    EXPECT_TRUE(RTCAllowList().Admits("10.0.0.1", 1)) << "an empty list admits every RTC";
}

using Notice = IgnoredRTCNotices::Notice;

TEST(IgnoredRTCNotices, EachSourceOnceAnHourAndAFloodInBoundedLinesAndMemory) {
    IgnoredRTCNotices notices;
    const long long t0 = 1000;
    EXPECT_EQ(notices.Take("10.0.0.1", t0), Notice::kName);
    EXPECT_EQ(notices.Take("10.0.0.1", t0 + 3599), Notice::kNone);
    EXPECT_EQ(notices.Take("10.0.0.1", t0 + 3600), Notice::kName) << "an hour later";
    EXPECT_EQ(notices.Take("10.0.0.1", t0), Notice::kName) << "a clock that went back forgets the stamp";

    IgnoredRTCNotices flood;
    int named = 0, more = 0;
    for (int i = 0; i < 10000; ++i) {
        const std::string source = "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250);
        const Notice notice = flood.Take(source.c_str(), t0 + i / 100);
        named += notice == Notice::kName;
        more += notice == Notice::kMore;
    }
    EXPECT_EQ(named, static_cast<int>(IgnoredRTCNotices::kNamedSources));
    EXPECT_EQ(more, 1);
    EXPECT_EQ(flood.Take("10.1.0.1", t0 + 3700), Notice::kName) << "the named ones of an hour ago made room";
    EXPECT_EQ(flood.Take("10.1.0.2", t0 + 3700), Notice::kName);
}

}  // namespace
