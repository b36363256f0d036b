// Lists the tag records of an outgoing-queue backup (DataBackup.bin), one
// line each: "<message index> <tag id> <tag message id> <visit time ms>",
// so that scripts can compare them with what the RTC received. Packages
// marked as having left the queue are counted, not listed. A summary
// goes to standard error. Exit status 1 when the file cannot be read to a
// clean end.
#include <cstdio>
#include <exception>
#include <string>

#include "ZemloReaderDataPackage.pb.h"
#include "backbone/msg_queue.h"
#include "backbone/queue_store.h"

namespace {

// Prints the package's records; false when its bytes do not parse.
bool PrintRecords(const std::string& bytes) {
    ZemloReaderDataPackage package;
    if (!package.ParseFromString(bytes)) return false;
    const unsigned long long index = package.message_header().message_index();
    for (const RFTagDataPackage& record : package.tags_data()) {
        std::printf("%llu %u %u %llu\n", index, record.tag_id(), record.tag_msg_id(),
                    static_cast<unsigned long long>(record.visit_timestamp()));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarnel-backupdump DataBackup.bin\n");
        return 2;
    }
    FILE* file = std::fopen(argv[1], "rb");
    if (!file) {
        std::perror(argv[1]);
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
                                    if (!whole || !PrintRecords(bytes)) ++broken;
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
