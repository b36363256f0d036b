#include "tools/subgsim/sim_control.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::vector<LineSplitter::Line> Feed(LineSplitter* splitter, const std::string& bytes) {
    return splitter->Feed(bytes.data(), bytes.size());
}

TEST(SimControlLines, CutsLinesAndKeepsHalfALineForLater) {
    LineSplitter s;
    auto lines = Feed(&s, "silent on\r\ntags 100 ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "silent on");
    EXPECT_FALSE(lines[0].tooLong);
    lines = Feed(&s, "7\n\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "tags 100 7");
    EXPECT_EQ(lines[1].text, "");
}

TEST(SimControlLines, MarksAnOverlongLineAndRecoversAfterIt) {
    LineSplitter s;
    EXPECT_TRUE(Feed(&s, std::string(3 * LineSplitter::kMaxLine, 'x')).empty());
    auto lines = Feed(&s, "yy\ndelay 5\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].tooLong);
    EXPECT_EQ(lines[0].text.size(), LineSplitter::kMaxLine);
    EXPECT_EQ(lines[1].text, "delay 5");
    EXPECT_FALSE(lines[1].tooLong);
}

TEST(SimControlLines, PrintableLineTrimsAndMasksControlBytes) {
    EXPECT_EQ(PrintableLine("  never 20 \t"), "never 20");
    EXPECT_EQ(PrintableLine(std::string("a\x01" "b\x7f", 4)), "a?b?");
    EXPECT_EQ(PrintableLine(" \t "), "");
}

}  // namespace
