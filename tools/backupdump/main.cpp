// Reads and writes outgoing-queue backups (DataBackup.bin) for scripts.
//
// tarnel-backupdump FILE lists the tag records, one line each: "<message
// index> <tag id> <tag message id> <visit time ms>", so that scripts can
// compare them with what the RTC received. Packages marked as having left
// the queue are counted, not listed.
//
// tarnel-backupdump --packages FILE lists the packages in the queue instead,
// one line each: "<message index> <package time ms> <tag records> <record
// bytes>", the record's bytes as the file stores them (flag byte, header,
// package).
//
// Both send a summary to standard error and end with status 1 when the
// file cannot be read to a clean end.
//
// tarnel-backupdump --at-bound FILE [BYTES] writes FILE: packages holding the
// queue's bound of tag records, as the reader makes them, and with BYTES
// before them packages marked as left, about BYTES fewer than theirs. A journal that appends new packages while as
// many bytes of the oldest leave is then due for compaction once it has
// appended about BYTES, which must not exceed the bytes of the bound's
// packages (records that left hold half of the file at most, so a load does
// not compact it).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <string>

#include "ZemloReaderDataPackage.pb.h"
#include "backbone/msg_queue.h"
#include "backbone/queue_store.h"

namespace {

// Above any index of the packages that left before them, and of as many
// bytes for every queued one: their size does not depend on how many left.
constexpr uint64_t kFirstQueuedIndex = 1000001;

int Usage() {
    std::fprintf(stderr,
                 "usage: tarnel-backupdump [--packages] DataBackup.bin\n"
                 "       tarnel-backupdump --at-bound DataBackup.bin [BYTES]\n");
    return 2;
}

uint32_t RecordBytes(uint8_t flags, const std::string& package) {
    uint8_t header[kMaxBackupRecordHeader];
    return static_cast<uint32_t>(EncodeBackupRecordHeader(flags, static_cast<uint32_t>(package.size()), header) +
                                 package.size());
}

// Prints the package's tag records, or its summary line; false when its
// bytes do not parse.
bool PrintPackage(const std::string& bytes, bool summary) {
    ZemloReaderDataPackage package;
    if (!package.ParseFromString(bytes)) return false;
    const unsigned long long index = package.message_header().message_index();
    if (summary) {
        std::printf("%llu %llu %d %u\n", index, static_cast<unsigned long long>(package.package_timestamp()),
                    package.tags_data_size(), RecordBytes(0, bytes));
        return true;
    }
    for (const RFTagDataPackage& record : package.tags_data()) {
        std::printf("%llu %u %u %llu\n", index, record.tag_id(), record.tag_msg_id(),
                    static_cast<unsigned long long>(record.visit_timestamp()));
    }
    return true;
}

int List(const char* path, bool summary) {
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::perror(path);
        return 1;
    }
    long packages = 0, left = 0, broken = 0;
    BackupReadEnd end = BackupReadEnd::kClean;
    try {
        end = ReadBackupRecords([file](uint8_t* out, size_t n) { return std::fread(out, 1, n, file); },
                                [&](uint8_t flags, std::string&& bytes, bool whole) {
                                    if (flags & kRedundantFlag) {
                                        ++left;
                                        return;
                                    }
                                    ++packages;
                                    if (!whole || !PrintPackage(bytes, summary)) ++broken;
                                });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnel-backupdump: caught an exception (%s)\n", e.what());
        std::fclose(file);
        return 1;
    }
    std::fclose(file);
    std::fprintf(stderr, "tarnel-backupdump: %ld packages, %ld left the queue, %ld not whole or not parsed, %s\n",
                 packages, left, broken,
                 end == BackupReadEnd::kClean ? "clean end" : "bad end");
    return end == BackupReadEnd::kClean && broken == 0 ? 0 : 1;
}

// Packages of about a kilobyte of activity records, as the reader makes
// them, from message index first on, each serialised and handed to each()
// until it returns false or the bound's records are made. The tag ids are
// not a simulator's.
void MakePackages(uint64_t first, const std::function<bool(const std::string&)>& each) {
    int made = 0;
    for (uint64_t index = first; made < kMaxQueuedTagRecords; ++index) {
        ZemloReaderDataPackage package;
        package.mutable_message_header()->set_message_index(index);
        package.set_package_timestamp(1700000000000ull + index);
        while (package.ByteSizeLong() <= 1024 && made < kMaxQueuedTagRecords) {
            RFTagDataPackage* record = package.add_tags_data();
            record->set_tag_id(100000 + made % 5000);
            record->set_tag_msg_id(made % 256);
            record->set_visit_timestamp(1699990000000ull + made);
            record->set_extra_info("");
            RFTagActivityData* activity = record->mutable_activity_data();
            activity->set_pedo_steps(1200);
            activity->set_standing_time(600);
            activity->set_laying_count(3);
            activity->set_laying_time(30);
            activity->set_position(RFTagActivityData::STANDING);
            ++made;
        }
        if (!each(package.SerializeAsString())) return;
    }
}

// bytesText: nullptr for no packages that left.
int WriteAtBound(const char* path, const char* bytesText) {
    char* end = nullptr;
    errno = 0;
    unsigned long long shortBy = bytesText ? std::strtoull(bytesText, &end, 10) : 0;
    if (bytesText && (errno != 0 || end == bytesText || *end != '\0')) return Usage();
    uint64_t bound = 0;
    uint64_t packages = 0;
    MakePackages(kFirstQueuedIndex, [&](const std::string& p) {
        bound += RecordBytes(0, p);
        ++packages;
        return true;
    });
    if (shortBy > bound) {
        std::fprintf(stderr, "tarnel-backupdump: %llu bytes exceed the %llu of the bound's packages\n", shortBy,
                     static_cast<unsigned long long>(bound));
        return 2;
    }
    FILE* file = std::fopen(path, "wb");
    if (!file) {
        std::perror(path);
        return 1;
    }
    if (!bytesText) shortBy = bound;
    // The left ones take indexes below the queued ones, as in a journal.
    uint64_t left = 0, leftPackages = 0;
    bool written = true;
    MakePackages(1, [&](const std::string& p) {
        if (left >= bound - shortBy) return false;
        written = written && WriteBackupRecord(file, kRedundantFlag, p) > 0;
        left += RecordBytes(kRedundantFlag, p);
        ++leftPackages;
        return true;
    });
    MakePackages(kFirstQueuedIndex, [&](const std::string& p) {
        written = written && WriteBackupRecord(file, 0, p) > 0;
        return written;
    });
    if (std::fclose(file) != 0 || !written) {
        std::perror(path);
        return 1;
    }
    std::fprintf(stderr, "tarnel-backupdump: %llu packages, %d tag records, %llu bytes after %llu that left, %llu bytes\n",
                 static_cast<unsigned long long>(packages), kMaxQueuedTagRecords, static_cast<unsigned long long>(bound),
                 static_cast<unsigned long long>(leftPackages), static_cast<unsigned long long>(left));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2) return List(argv[1], false);
    if (argc == 3 && std::strcmp(argv[1], "--packages") == 0) return List(argv[2], true);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--at-bound") == 0)
        return WriteAtBound(argv[2], argc == 4 ? argv[3] : nullptr);
    return Usage();
}
