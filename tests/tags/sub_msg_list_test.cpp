#include "tags/sub_msg_list.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TimedSubGMsg Numbered(uint32_t n) {
    TimedSubGMsg r{};
    r.seconds = n;
    return r;
}

TEST(SubMsgList, RecordsComeOutInTheOrderTheyWentIn) {
    TimedSubGMsg out;
    EXPECT_EQ(TakeTagData(&out), 0);
    for (uint32_t n = 1; n <= 3; ++n) EXPECT_EQ(AddTagData(Numbered(n)), 1);
    EXPECT_EQ(SubMsgListSize(), 3u);
    for (uint32_t n = 1; n <= 3; ++n) {
        ASSERT_EQ(TakeTagData(&out), 1);
        EXPECT_EQ(out.seconds, n);
    }
    EXPECT_EQ(TakeTagData(&out), 0);
}

TEST(SubMsgList, AListNobodyDrainsStopsGrowingAtItsLimit) {
    for (size_t i = 0; i < kSubMsgListLimit; ++i) ASSERT_EQ(AddTagData(Numbered(static_cast<uint32_t>(i))), 1);
    EXPECT_EQ(AddTagData(Numbered(0)), 0);
    EXPECT_EQ(SubMsgListSize(), kSubMsgListLimit);
    TimedSubGMsg out;
    ASSERT_EQ(TakeTagData(&out), 1);
    EXPECT_EQ(out.seconds, 0u) << "the oldest records are kept";
    EXPECT_EQ(AddTagData(Numbered(1)), 1);
}

TEST(SubMsgList, TheBackboneDrainsWhileTheParserAdds) {
    constexpr uint32_t kRecords = 20000;
    std::thread parser([] {
        for (uint32_t n = 0; n < kRecords; ++n) AddTagData(Numbered(n));
    });
    uint32_t expected = 0;
    TimedSubGMsg out;
    for (long spins = 0; expected < kRecords && spins < 100000000; ++spins) {
        if (!TakeTagData(&out)) continue;
        if (out.seconds != expected) break;
        ++expected;
    }
    parser.join();
    EXPECT_EQ(expected, kRecords);
}

}  // namespace
