// The outgoing queue on disk, "DataBackup.bin": one record per entry in
// queue order (flag byte, envelope key of a reader data package, length
// varint, the package) and nothing else. Saved by the sender thread every
// ten minutes and at shutdown, loaded once when it starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "backbone/envelope.h"

// Where the backup goes: on the SD card when its device exists and the
// folder can be written, else in the working directory.
struct BackupLocation {
    std::string sdDevice = "/dev/mmcblk0p1";
    std::string probeFile = "/home/DummyFile.txt";
    std::string sdBackupFile = "/home/DataBackup.bin";
    std::string localBackupFile = "./DataBackup.bin";
};

// Replaces the locations; call before the sender thread starts (tests).
void SetBackupLocation(const BackupLocation& location);

// The wall-clock time of the last backup written, 0 before the first: for
// the status file.
time_t LastBackupWriteTime();

// Chooses the file anew at each call: the SD card may come and go.
std::string GetDataBackupFilePathName();

// Suffix of a backup that the load refused, kept for a technician.
constexpr char kRejectedBackupSuffix[] = ".bad";

// Writes the whole queue, stripped of its reader reports, in place of the
// previous file: a failed save leaves that file whole. An empty queue
// writes nothing and removes a previous file, whose packages have all left
// the queue since. False on failure; the queue is unchanged but for the
// stripped reports.
bool SaveQtoFile();

// Reads the backup and puts its packages in front of those queued since
// the start. True when a file was read to its end; it stays on disk until
// the next save replaces it (or removes it, the queue being empty by then).
// False when there was none or it was refused: then nothing of it is
// queued and it is renamed aside with kRejectedBackupSuffix.
bool LoadQFromFile();

// --- the record coding, apart from any file ---

// A package larger than this is no package of the reader's: the record
// cannot be valid.
constexpr uint32_t kMaxBackupPackageBytes = 1 << 20;
constexpr int kMaxBackupRecordHeader = 1 + kMaxEnvelopeHeaderBytes;

// Writes the bytes that precede a package of length bytes in its record;
// returns their count.
int EncodeBackupRecordHeader(uint8_t flags, uint32_t length, uint8_t* out);

// How reading the records ended.
enum class BackupReadEnd {
    kClean,               // at a record boundary, or within a record's package
    kEndsAfterFlag,       // no byte after a flag byte
    kEndsInHeader,        // within an envelope header
    kBadHeader,           // a header no further byte could make valid, or too long a package
    kEndsBeforePackage,   // a header whose package has no byte at all
};

// Fills out with up to n bytes; fewer only at the end of the bytes.
using BackupByteSource = std::function<size_t(uint8_t* out, size_t n)>;
// One record: its flag byte, its package bytes, and whether they are all
// there (the last record of a cut file may hold only the first of them).
using BackupRecordSink = std::function<void(uint8_t flags, std::string&& package, bool whole)>;

BackupReadEnd ReadBackupRecords(const BackupByteSource& source, const BackupRecordSink& sink);
