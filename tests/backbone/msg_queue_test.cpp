#include "backbone/msg_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "backbone/msg_q_sender.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "platform/timing.h"
#include "support/scratch_dir.h"

namespace {

constexpr time_t kNow = 1700000000;
constexpr uint64_t kVisit = 1699999000000ull;

time_t FixedClock() { return kNow; }

ZemloReaderDataPackage Package(uint64_t index, int records, uint64_t packageTime = 1000) {
    ZemloReaderDataPackage package;
    package.mutable_message_header()->set_message_index(index);
    package.set_package_timestamp(packageTime);
    for (int i = 0; i < records; ++i) {
        RFTagDataPackage* record = package.add_tags_data();
        record->set_tag_id(100 + i);
        record->set_visit_timestamp(kVisit + i);
    }
    return package;
}

std::vector<uint64_t> QueuedIndexes(OutgoingQueue& queue) {
    std::vector<uint64_t> indexes;
    for (const WaitingMsgSt& e : queue.Entries()) indexes.push_back(e.MsgIndex);
    return indexes;
}

template <typename Entries>
void ExpectCountIsSum(const Entries& entries, int32_t count) {
    int32_t sum = 0;
    for (const WaitingMsgSt& e : entries) sum += e.TagRecords;
    EXPECT_EQ(count, sum);
}

// Holds a save of the queue, and so its lock, until released.
std::atomic<bool> saveHeld{false};
std::atomic<bool> saveReleased{false};
void HoldTheSave(const char*) {
    saveHeld = true;
    for (int i = 0; i < 10000 && !saveReleased; ++i) MicroSecSleep(1000);
}

TEST(MsgQueue, TheOldestPackagesMakeRoomAtTheBound) {
    struct Case {
        std::vector<int32_t> queued;  // tag records per package, oldest first
        int32_t added;
        std::vector<int32_t> kept;
    } cases[] = {
        // 10 below the bound, a package of 20: the oldest go until it fits.
        {{999980, 9}, 20, {9, 20}},
        {{5, 5, 999979}, 20, {999979, 20}},
        {{5, 5, 999979}, 10, {5, 5, 999979, 10}},
        {{999999}, 0, {999999, 0}},
    };
    for (const Case& c : cases) {
        WaitingMsgQ q;
        for (int32_t n : c.queued) PushMsgToLimitedQ(&q, WaitingMsgSt{"", 0, 0, n, 0, false});
        PushMsgToLimitedQ(&q, WaitingMsgSt{"", 0, 0, c.added, 0, false});
        std::vector<int32_t> kept;
        for (const WaitingMsgSt& e : q.Entries) kept.push_back(e.TagRecords);
        EXPECT_EQ(kept, c.kept);
        ExpectCountIsSum(q.Entries, q.TagDataCount);
    }
}

TEST(MsgQueue, APackageQueuedTwiceIsStoredOnce) {
    OutgoingQueue queue;
    queue.AddMsgToQ(Package(1, 3));
    queue.AddMsgToQ(Package(1, 3));
    // Indexes start at 1 again in every run: a reloaded package may share
    // its index with a new one, which must not be lost.
    queue.AddMsgToQ(Package(1, 3, 2000));
    queue.AddMsgToQ(Package(2, 4));
    EXPECT_EQ(QueuedIndexes(queue), (std::vector<uint64_t>{1, 1, 2}));
    EXPECT_EQ(queue.TagDataCount(), 10);
}

TEST(MsgQueue, ABusyQueueIsSkippedNotWaitedFor) {
    ScratchDir dir("msgq", ScratchDir::Cwd::Enter);
    BackupLocation here;
    here.sdDevice = dir.Path() + "/no-card";
    OutgoingQueue queue(here);
    queue.AddMsgToQ(Package(1, 2));
    SetAtomicWriteHook(HoldTheSave);
    std::thread save([&queue] { queue.SaveQtoFile(); });
    for (int i = 0; i < 10000 && !saveHeld; ++i) MicroSecSleep(1000);
    std::vector<WaitingMsgSt> burst;
    bool more = false;
    EXPECT_FALSE(queue.TakeToWrite(1, 3, &burst, &more));
    saveReleased = true;
    save.join();
    SetAtomicWriteHook(nullptr);
    ASSERT_TRUE(queue.TakeToWrite(1, 3, &burst, &more));
    EXPECT_EQ(burst.size(), 1u);
}

// What the sender writes on each connection and what leaves the queue, as
// bursts of three go out (or fail) and the RTC acknowledges.
TEST(MsgQueue, WrittenPackagesWaitForTheirAcknowledgementAndGoAgainOnTheNextConnection) {
    struct Step {
        char what;  // 'w' a burst written whole, 'f' a burst that failed, 'a' a persist acknowledgement
        uint64_t connection;
        std::vector<uint64_t> indexes;  // written ('w', 'f'), acknowledged ('a')
        std::vector<uint64_t> queued;   // afterwards
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"an RTC that acknowledges nothing: written whole is sent",
         {{'w', 1, {1, 2, 3}, {4, 5, 6, 7, 8}}, {'f', 1, {4, 5, 6}, {4, 5, 6, 7, 8}}, {'w', 2, {4, 5, 6}, {7, 8}}}},
        {"after the first acknowledgement a written package waits for its own",
         {{'w', 1, {1, 2, 3}, {4, 5, 6, 7, 8}},
          {'a', 0, {3}, {4, 5, 6, 7, 8}},
          {'w', 1, {4, 5, 6}, {4, 5, 6, 7, 8}},
          {'a', 0, {5, 99, 0}, {4, 6, 7, 8}},
          {'w', 1, {7, 8}, {4, 6, 7, 8}},
          {'w', 1, {}, {4, 6, 7, 8}},
          // The next connection: the unacknowledged first, in index order.
          {'w', 2, {4, 6, 7}, {4, 6, 7, 8}},
          {'w', 2, {8}, {4, 6, 7, 8}},
          {'a', 0, {4, 6, 7, 8}, {}}}},
        {"written on three connections without an acknowledgement, it leaves",
         {{'a', 0, {42}, {1, 2, 3, 4, 5, 6, 7, 8}},
          {'w', 1, {1, 2, 3}, {1, 2, 3, 4, 5, 6, 7, 8}},
          {'a', 0, {1, 2}, {3, 4, 5, 6, 7, 8}},
          {'w', 2, {3, 4, 5}, {3, 4, 5, 6, 7, 8}},
          {'f', 3, {3, 4, 5}, {3, 4, 5, 6, 7, 8}},
          {'w', 4, {3, 4, 5}, {3, 4, 5, 6, 7, 8}},  // a connection that failed does not count
          {'w', 5, {4, 5, 6}, {4, 5, 6, 7, 8}},
          {'w', 6, {6, 7, 8}, {6, 7, 8}}}},
    };
    for (const Case& c : cases) {
        OutgoingQueue queue;
        for (uint64_t i = 1; i <= 8; ++i) queue.AddMsgToQ(Package(i, 2));
        for (const Step& step : c.steps) {
            std::vector<uint64_t> written;
            if (step.what == 'a') {
                queue.Persisted(step.indexes);
            } else {
                std::vector<WaitingMsgSt> burst;
                bool more = false;
                ASSERT_TRUE(queue.TakeToWrite(step.connection, 3, &burst, &more));
                for (const WaitingMsgSt& e : burst) written.push_back(e.MsgIndex);
                if (step.what == 'f') queue.NotWritten(burst);
                for (const WaitingMsgSt& e : burst)
                    if (step.what == 'w') queue.WrittenWhole(e);
                EXPECT_EQ(written, step.indexes) << c.name << ", connection " << step.connection;
            }
            EXPECT_EQ(QueuedIndexes(queue), step.queued) << c.name << ", step " << step.what << step.connection;
            ExpectCountIsSum(queue.Entries(), queue.TagDataCount());
        }
    }
}

TEST(MsgQueue, WrittenPackagesCountTowardsTheBound) {
    OutgoingQueue queue;
    queue.Persisted({1000});  // an RTC that acknowledges
    queue.AddMsgToQ(Package(1, kMaxQueuedTagRecords - 10));
    std::vector<WaitingMsgSt> burst;
    bool more = false;
    ASSERT_TRUE(queue.TakeToWrite(1, 3, &burst, &more));
    queue.WrittenWhole(burst.at(0));
    queue.AddMsgToQ(Package(2, 20));
    EXPECT_EQ(QueuedIndexes(queue), (std::vector<uint64_t>{2}));
    EXPECT_EQ(queue.TagDataCount(), 20);
}

TEST(MsgQueue, AClockSettingShiftsQueuedRecordsOnceAndOnlyBeyondTenSeconds) {
    SetNowSecondsSource(FixedClock);
    struct Case {
        std::vector<long> settings;  // offsets from now, in turn
        int64_t shiftMillis;
    } cases[] = {
        {{3600, 7200}, 3600000},
        {{-3600}, -3600000},
        {{10, 3600}, 0},
        {{-10}, 0},
        {{11}, 11000},
    };
    for (const Case& c : cases) {
        OutgoingQueue queue;
        queue.AddMsgToQ(Package(1, 2));
        queue.AddMsgToQ(Package(2, 1));
        for (long offset : c.settings) queue.UpdateDataTime(kNow + offset);
        for (const WaitingMsgSt& e : queue.Entries()) {
            EXPECT_TRUE(e.Flags & kDataTimeUpdatedFlag);
            ZemloReaderDataPackage package;
            ASSERT_TRUE(package.ParseFromString(e.Msg));
            EXPECT_EQ(package.package_timestamp(), 1000u) << "the package's own time is not shifted";
            for (int i = 0; i < package.tags_data_size(); ++i)
                EXPECT_EQ(package.tags_data(i).visit_timestamp(), kVisit + i + c.shiftMillis) << c.settings[0];
        }
    }
    SetNowSecondsSource(nullptr);
}

TEST(MsgQueue, AcknowledgementsAreTakenAllAtOnce) {
    OutgoingQueue queue;
    for (uint64_t i : {7u, 9u, 8u}) queue.AddAckWaiting(i);
    EXPECT_EQ(queue.TakeAckWaiting(), (std::vector<uint64_t>{7, 9, 8}));
    EXPECT_TRUE(queue.TakeAckWaiting().empty());
}

}  // namespace
