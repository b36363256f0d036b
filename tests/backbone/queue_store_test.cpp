#include "backbone/queue_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backbone/msg_queue.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr char kBackup[] = "./DataBackup.bin";

ZemloReaderDataPackage Package(uint64_t index, int records) {
    ZemloReaderDataPackage package;
    package.mutable_message_header()->set_message_index(index);
    package.mutable_message_header()->set_send_timestamp(77);
    package.set_package_timestamp(1700000000000ull + index);
    for (int i = 0; i < records; ++i) {
        RFTagDataPackage* record = package.add_tags_data();
        record->set_tag_id(100 + i);
        record->set_visit_timestamp(1699999000000ull + i);
        record->mutable_activity_data()->set_pedo_steps(i);
    }
    return package;
}

// A package carrying every report a backup strips.
ZemloReaderDataPackage WithReports(ZemloReaderDataPackage package) {
    package.mutable_reader_diag_info()->set_rssi_noise(3);
    package.mutable_reader_params_info()->set_extra_info("x");
    package.mutable_reader_bit_results()->set_uart_test(true);
    auto* reading = package.mutable_channel_survey_results()->add_all_channels_rssi_results();
    reading->set_channel_index(1);
    reading->set_channel_frequency(915.0f);
    package.set_extra_info("more");
    return package;
}

std::string FileBytes(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const char* path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

ZemloReaderDataPackage Queued(OutgoingQueue& queue, size_t i) {
    ZemloReaderDataPackage package;
    EXPECT_TRUE(package.ParseFromString(queue.Entries().at(i).Msg));
    return package;
}

std::vector<uint64_t> QueuedIndexes(OutgoingQueue& queue) {
    std::vector<uint64_t> indexes;
    for (const WaitingMsgSt& e : queue.Entries()) indexes.push_back(e.MsgIndex);
    return indexes;
}

class QueueStore : public ::testing::Test {
protected:
    QueueStore() {
        location_.sdDevice = dir_.Path() + "/mmcblk0p1";
        location_.probeFile = dir_.Path() + "/home/DummyFile.txt";
        location_.sdBackupFile = dir_.Path() + "/home/DataBackup.bin";
    }
    ScratchDir dir_{"qstore", ScratchDir::Cwd::Enter};
    BackupLocation location_;
};

TEST_F(QueueStore, ASavedQueueLoadsBackWithoutItsReportsInFrontOfNewPackages) {
    OutgoingQueue queue(location_);
    {
        // The second package alone goes through a clock correction: the
        // first joins the queue after it, from a backup.
        OutgoingQueue earlier(location_);
        earlier.AddMsgToQ(WithReports(Package(1, 3)));
        ASSERT_TRUE(earlier.SaveQtoFile());
        queue.AddMsgToQ(Package(2, 2));
        queue.UpdateDataTime(static_cast<long>(NowSeconds()));
        ASSERT_TRUE(queue.LoadQFromFile());
    }
    ASSERT_TRUE(queue.SaveQtoFile());
    const std::string bytes = FileBytes(kBackup);
    uint8_t header[kMaxBackupRecordHeader];
    const int n = EncodeBackupRecordHeader(0, static_cast<uint32_t>(queue.Entries()[0].Msg.size()), header);
    EXPECT_EQ(bytes.substr(0, n), std::string(reinterpret_cast<char*>(header), n));
    EXPECT_EQ(bytes.substr(0, 2), std::string("\x00\x1A", 2));

    OutgoingQueue restarted(location_);
    restarted.AddMsgToQ(Package(5, 1));
    ASSERT_TRUE(restarted.LoadQFromFile());
    EXPECT_EQ(QueuedIndexes(restarted), (std::vector<uint64_t>{1, 2, 5}));
    EXPECT_EQ(restarted.TagDataCount(), 6);
    for (size_t i = 0; i < 2; ++i) {
        ZemloReaderDataPackage expected = Package(i + 1, 3 - i);
        ZemloReaderDataPackage loaded = Queued(restarted, i);
        EXPECT_EQ(loaded.SerializeAsString(), expected.SerializeAsString()) << "only records, times and header remain";
        EXPECT_EQ(restarted.Entries()[i].Flags, i == 1 ? kDataTimeUpdatedFlag : 0);
    }
}

TEST_F(QueueStore, AFailedSaveLeavesTheJournalWholeAndGoingOn) {
    OutgoingQueue queue(location_);
    queue.AddMsgToQ(Package(1, 2));
    ASSERT_TRUE(queue.SaveQtoFile());
    SetAtomicWriteHook([](const char* path) { unlink((std::string(path) + ".tmp").c_str()); });
    EXPECT_FALSE(queue.SaveQtoFile());
    SetAtomicWriteHook(nullptr);
    queue.AddMsgToQ(Package(2, 2));
    OutgoingQueue restarted(location_);
    ASSERT_TRUE(restarted.LoadQFromFile());
    EXPECT_EQ(QueuedIndexes(restarted), (std::vector<uint64_t>{1, 2}));
}

std::string Record(uint8_t flags, uint64_t index, int records = 2) {
    const std::string package = Package(index, records).SerializeAsString();
    uint8_t header[kMaxBackupRecordHeader];
    const int n = EncodeBackupRecordHeader(flags, static_cast<uint32_t>(package.size()), header);
    return std::string(reinterpret_cast<char*>(header), n) + package;
}

// A stop before the sender has read the backup leaves it as it is: the
// packages in it are not in the queue yet.
TEST_F(QueueStore, AnExitBeforeTheLoadLeavesTheBackupUnread) {
    WriteBytes(kBackup, Record(0, 1));
    OutgoingQueue queue(location_);
    queue.AddMsgToQ(Package(2, 2));
    queue.MakeJournalDurable();
    EXPECT_EQ(FileBytes(kBackup), Record(0, 1));
}

// Packages enter the file as they enter the queue and are marked in place
// as they leave; the file is rewritten once those that left hold most of it,
// not at a load. Every byte written to it is counted.
TEST_F(QueueStore, TheJournalFollowsTheQueueAndIsCompactedWhenMostOfItLeft) {
    // Packages large enough that the file is worth compacting.
    constexpr int kRecords = 1500;
    const size_t record = Record(0, 1, kRecords).size();
    OutgoingQueue queue(location_);
    const auto bytesWritten = [&queue] { return queue.QueuedCounts().backupBytesWritten; };
    EXPECT_FALSE(queue.LoadQFromFile());
    for (uint64_t i : {1, 2, 3}) queue.AddMsgToQ(Package(i, kRecords));
    std::vector<WaitingMsgSt> written;
    bool more = false;
    ASSERT_TRUE(queue.TakeToWrite(1, 3, &written, &more));
    queue.WrittenWhole(written[1]);
    EXPECT_EQ(FileBytes(kBackup), Record(0, 1, kRecords) + Record(kRedundantFlag, 2, kRecords) + Record(0, 3, kRecords));
    ASSERT_GE(FileBytes(kBackup).size(), JournalFile::kMinCompactedBytes);
    queue.TendJournal();
    EXPECT_EQ(FileBytes(kBackup).size(), 3 * record) << "a third left: no rewrite";
    EXPECT_EQ(bytesWritten(), 3 * record + 1) << "three appends and a flag byte";
    {
        OutgoingQueue killed(location_);
        ASSERT_TRUE(killed.LoadQFromFile());
        EXPECT_EQ(QueuedIndexes(killed), (std::vector<uint64_t>{1, 3}));
        EXPECT_EQ(FileBytes(kBackup).size(), 3 * record) << "a load rewrites no file a third of which left";
    }
    queue.WrittenWhole(written[0]);
    queue.TendJournal();
    EXPECT_EQ(FileBytes(kBackup), Record(0, 3, kRecords));
    EXPECT_EQ(bytesWritten(), 4 * record + 2) << "a flag byte and the compacted file";
    queue.AddMsgToQ(Package(4, 2));
    EXPECT_EQ(FileBytes(kBackup), Record(0, 3, kRecords) + Record(0, 4)) << "the journal goes on in the new file";
}

// While paired, copies of the growing package stand in the journal for
// it: each marked as left only once the sync after its successor is done,
// or with the package when that leaves; a compaction keeps the last copy.
TEST_F(QueueStore, CopiesOfTheGrowingPackageAreMarkedOnlyOnceTheirSuccessorIsDurable) {
    OutgoingQueue queue(location_);
    EXPECT_FALSE(queue.LoadQFromFile());
    queue.AddMsgToQ(Package(1, 2));
    queue.JournalGrowingPackage(Package(2, 1));
    queue.JournalGrowingPackage(Package(2, 2));
    const std::string r1 = Record(0, 1);
    EXPECT_EQ(FileBytes(kBackup), r1 + Record(0, 2, 1) + Record(0, 2, 2));
    {
        OutgoingQueue killed(location_);
        ASSERT_TRUE(killed.LoadQFromFile());
        EXPECT_EQ(QueuedIndexes(killed), (std::vector<uint64_t>{1, 2}));
        EXPECT_EQ(killed.TagDataCount(), 4) << "the last copy alone";
    }
    queue.TendJournal();
    queue.TendJournal();
    EXPECT_EQ(FileBytes(kBackup), r1 + Record(kRedundantFlag, 2, 1) + Record(0, 2, 2));
    queue.AddMsgToQ(Package(2, 3));
    std::vector<WaitingMsgSt> written;
    bool more = false;
    ASSERT_TRUE(queue.TakeToWrite(1, 3, &written, &more));
    queue.WrittenWhole(written[1]);
    EXPECT_EQ(FileBytes(kBackup),
              r1 + Record(kRedundantFlag, 2, 1) + Record(kRedundantFlag, 2, 2) + Record(kRedundantFlag, 2, 3))
        << "no copy outlives its package";
    queue.JournalGrowingPackage(Package(3, 1));
    ASSERT_TRUE(queue.SaveQtoFile());
    EXPECT_EQ(FileBytes(kBackup), r1 + Record(0, 3, 1));
    queue.AddMsgToQ(Package(3, 2));
    queue.TendJournal();
    queue.TendJournal();
    EXPECT_EQ(FileBytes(kBackup), r1 + Record(kRedundantFlag, 3, 1) + Record(0, 3, 2));
}

TEST_F(QueueStore, ALoadKeepsTheWholeRecordsBeforeACutOrDamageAndSetsADamagedFileAside) {
    const std::string r1 = Record(0, 1), r2 = Record(0, 2), r3 = Record(0, 3);
    const std::string badHeader("\0\x18\x05\x01\x02\x03\x04\x05", 8);
    const std::string tooLong("\0\x1A\xFF\xFF\xFF\x0F\x01", 7);
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<uint64_t> queued;
        bool setAside;
        bool rewritten;  // else the file stays as it was, or becomes marked
        std::string marked = "";
    } cases[] = {
        {"clean", r1 + r2 + r3, {1, 2, 3}, false, false},
        // A kill after the growing package's next copy, before the mark of the one before.
        {"an earlier copy of a package", r1 + Record(0, 2, 1) + r2 + r3, {1, 2, 3}, false, false,
         r1 + Record(kRedundantFlag, 2, 1) + r2 + r3},
        {"one left", r1 + Record(kRedundantFlag, 2) + r3, {1, 3}, false, false},
        {"ends after a flag byte", r1 + r2 + '\0', {1, 2}, false, true},
        {"ends inside a header", r1 + r2 + std::string("\0\x1A", 2), {1, 2}, false, true},
        {"ends before its package", r1 + r2 + std::string("\0\x1A\x05", 3), {1, 2}, false, true},
        {"ends inside a package", r1 + r2 + r3.substr(0, r3.size() / 2), {1, 2}, false, true},
        {"wire type 0 in the middle", r1 + badHeader + r3, {1}, true, true},
        {"package beyond any size in the middle", r1 + tooLong + r3, {1}, true, true},
    };
    for (const Case& c : cases) {
        for (int n = 1; n <= 3; ++n) fs::remove(std::string(kBackup) + ".bad." + std::to_string(n));
        // Twice: a second damaged file never replaces the first one set aside.
        for (int load = 1; load <= 2; ++load) {
            WriteBytes(kBackup, c.bytes);
            OutgoingQueue queue(location_);
            EXPECT_TRUE(queue.LoadQFromFile()) << c.what;
            EXPECT_EQ(QueuedIndexes(queue), c.queued) << c.what;
            std::string kept;
            for (uint64_t i : c.queued) kept += Record(0, i);
            const std::string after = c.rewritten ? kept : c.marked.empty() ? c.bytes : c.marked;
            EXPECT_EQ(FileBytes(kBackup), after) << c.what << ": the file after the load";
            const std::string aside = std::string(kBackup) + ".bad." + std::to_string(load);
            EXPECT_EQ(fs::exists(aside), c.setAside) << c.what;
            if (c.setAside) {
                EXPECT_EQ(FileBytes(aside.c_str()), c.bytes) << c.what;
            }
        }
    }
}

TEST(StorageTrouble, IsLoggedOncePerEpisodeAndRetriedAfterAPauseDoublingToAMinute) {
    StorageTrouble trouble;
    const long long pauses[] = {1, 2, 4, 8, 16, 32, 60, 60};
    long long now = 100;
    for (size_t i = 0; i < std::size(pauses); ++i) {
        EXPECT_EQ(trouble.Failed(now), i == 0) << i;
        EXPECT_EQ(trouble.PauseSeconds(), pauses[i]) << i;
        EXPECT_FALSE(trouble.RetryDue(now + pauses[i] - 1)) << i;
        now += pauses[i];
        EXPECT_TRUE(trouble.RetryDue(now)) << i;
    }
    EXPECT_TRUE(trouble.Succeeded());
    EXPECT_FALSE(trouble.Succeeded());
    EXPECT_FALSE(trouble.RetryDue(now + 1000));
    EXPECT_TRUE(trouble.Failed(now));
    EXPECT_EQ(trouble.PauseSeconds(), 1);
}

TEST_F(QueueStore, TheBackupGoesToTheCardOnlyWhenItsDeviceExistsAndItsFolderTakesAFile) {
    struct Case {
        bool device;
        bool folder;
        bool onCard;
    } cases[] = {{false, true, false}, {true, false, false}, {true, true, true}};
    for (const Case& c : cases) {
        fs::remove_all(dir_.Path() + "/home");
        fs::remove(dir_.Path() + "/mmcblk0p1");
        if (c.device) WriteBytes((dir_.Path() + "/mmcblk0p1").c_str(), "");
        if (c.folder) fs::create_directory(dir_.Path() + "/home");
        EXPECT_EQ(OutgoingQueue(location_).GetDataBackupFilePathName(), c.onCard ? dir_.Path() + "/home/DataBackup.bin" : kBackup);
        EXPECT_FALSE(fs::exists(dir_.Path() + "/home/DummyFile.txt"));
    }
}

}  // namespace
