#include <gtest/gtest.h>

#include <vector>

#include "options.h"

namespace {

bool Parse(std::vector<const char*> args, SandboxOptions* out, std::string* error) {
    args.insert(args.begin(), "tarnel-sandbox");
    return ParseSandboxOptions(static_cast<int>(args.size()), args.data(), out, error);
}

}  // namespace

TEST(SandboxOptions, FullCommandLine) {
    SandboxOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--dir", "/tmp/x", "--seconds", "0", "--show", "--console", "--sim", "/s", "--sim-arg", "-a",
                       "--sim-arg", "--b", "--", "/bin/d", "--seconds", "9"},
                      &o, &error))
        << error;
    EXPECT_EQ(o.dir, "/tmp/x");
    EXPECT_EQ(o.seconds, 0);
    EXPECT_TRUE(o.show);
    EXPECT_TRUE(o.console);
    EXPECT_EQ(o.sim, "/s");
    EXPECT_EQ(o.simArgs, (std::vector<std::string>{"-a", "--b"}));
    EXPECT_EQ(o.daemon, (std::vector<std::string>{"/bin/d", "--seconds", "9"}));
}

TEST(SandboxOptions, RtcSimulator) {
    SandboxOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--dir", "d", "--with-rtc", "--rtc-arg", "--json", "--rtc-arg", "--seconds", "--", "x"}, &o,
                      &error))
        << error;
    EXPECT_TRUE(o.withRtc);
    EXPECT_EQ(o.rtcArgs, (std::vector<std::string>{"--json", "--seconds"}));
}

TEST(SandboxOptions, Defaults) {
    SandboxOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--dir", "d", "--no-sim", "--", "x"}, &o, &error)) << error;
    EXPECT_EQ(o.seconds, 30);
    EXPECT_FALSE(o.show);
    EXPECT_TRUE(o.noSim);
    EXPECT_FALSE(o.withRtc);
    EXPECT_TRUE(o.rtc.empty());
}

TEST(SandboxOptions, Rejects) {
    const std::vector<std::vector<const char*>> bad = {
        {"--", "x"},
        {"--dir", "d"},
        {"--dir", "d", "--", },
        {"--dir", "d", "--seconds", "-1", "--", "x"},
        {"--dir", "d", "--seconds", "5s", "--", "x"},
        {"--dir", "d", "--seconds"},
        {"--dir", "d", "--bogus", "--", "x"},
        {"--dir", "d", "--sim", "s", "--no-sim", "--", "x"},
        {"--dir", "d", "--rtc", "r", "--with-rtc", "--", "x"},
        {"--dir", "d", "--rtc-arg", "--json", "--", "x"},
    };
    for (const auto& args : bad) {
        SandboxOptions o;
        std::string error;
        EXPECT_FALSE(Parse(args, &o, &error)) << args.size();
        EXPECT_FALSE(error.empty());
    }
}
