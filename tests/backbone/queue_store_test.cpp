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
constexpr char kRejected[] = "./DataBackup.bin.bad";

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
    // Killed before its next save, the reader finds the same backup again.
    EXPECT_EQ(FileBytes(kBackup), bytes);
    EXPECT_EQ(restarted.TagDataCount(), 6);
    for (size_t i = 0; i < 2; ++i) {
        ZemloReaderDataPackage expected = Package(i + 1, 3 - i);
        ZemloReaderDataPackage loaded = Queued(restarted, i);
        EXPECT_EQ(loaded.SerializeAsString(), expected.SerializeAsString()) << "only records, times and header remain";
        EXPECT_EQ(restarted.Entries()[i].Flags, i == 1 ? kDataTimeUpdatedFlag : 0);
    }
}

TEST_F(QueueStore, AnEmptyQueueWritesNoFileAndDropsAStaleOne) {
    OutgoingQueue queue(location_);
    ASSERT_TRUE(queue.SaveQtoFile());
    EXPECT_FALSE(fs::exists(kBackup));
    WriteBytes(kBackup, "stale");
    ASSERT_TRUE(queue.SaveQtoFile());
    EXPECT_FALSE(fs::exists(kBackup));
}

TEST_F(QueueStore, AFailedSaveLeavesThePreviousFileWhole) {
    OutgoingQueue queue(location_);
    queue.AddMsgToQ(Package(1, 2));
    ASSERT_TRUE(queue.SaveQtoFile());
    const std::string before = FileBytes(kBackup);
    queue.AddMsgToQ(Package(2, 2));
    SetAtomicWriteHook([](const char* path) { unlink((std::string(path) + ".tmp").c_str()); });
    EXPECT_FALSE(queue.SaveQtoFile());
    SetAtomicWriteHook(nullptr);
    EXPECT_EQ(FileBytes(kBackup), before);
    EXPECT_EQ(queue.Entries().size(), 2u);
}

TEST_F(QueueStore, ACutOrDamagedBackupIsRefusedAndKeptAsideUnlessItEndsInsideAPackage) {
    OutgoingQueue saved(location_);
    saved.AddMsgToQ(Package(1, 3));
    ASSERT_TRUE(saved.SaveQtoFile());
    const std::string first = FileBytes(kBackup);
    saved.AddMsgToQ(Package(2, 3));
    ASSERT_TRUE(saved.SaveQtoFile());
    const std::string both = FileBytes(kBackup);
    const size_t secondPackage = both.size() - first.size() - 3;
    struct Case {
        const char* what;
        std::string bytes;
        bool loads;
        std::vector<uint64_t> queued;
    } cases[] = {
        {"ends after a flag byte", first + '\0', false, {}},
        {"ends inside a header", first + std::string("\0\x1A", 2), false, {}},
        {"ends before its package", first + std::string("\0\x1A\x05", 3), false, {}},
        {"wire type 0", first + std::string("\0\x18\x05\x01\x02\x03\x04\x05", 8), false, {}},
        {"package beyond any size", first + std::string("\0\x1A\xFF\xFF\xFF\x0F\x01", 7), false, {}},
        // Its header, written last, is lost with the cut.
        {"ends inside a package", both.substr(0, both.size() - secondPackage / 2), true, {1, 0}},
    };
    for (const Case& c : cases) {
        OutgoingQueue queue(location_);
        fs::remove(kRejected);
        WriteBytes(kBackup, c.bytes);
        EXPECT_EQ(queue.LoadQFromFile(), c.loads) << c.what;
        EXPECT_EQ(QueuedIndexes(queue), c.queued) << c.what;
        EXPECT_EQ(fs::exists(kBackup), c.loads) << c.what;
        if (c.loads) {
            EXPECT_FALSE(fs::exists(kRejected)) << c.what;
            const ZemloReaderDataPackage partial = Queued(queue, 1);
            ASSERT_GE(partial.tags_data_size(), 2) << c.what;
            EXPECT_EQ(partial.tags_data(1).SerializeAsString(), Package(2, 3).tags_data(1).SerializeAsString())
                << c.what << ": the records before the cut are kept";
            EXPECT_EQ(queue.TagDataCount(), 3 + partial.tags_data_size()) << c.what;
        } else {
            EXPECT_EQ(FileBytes(kRejected), c.bytes) << c.what;
        }
    }
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
