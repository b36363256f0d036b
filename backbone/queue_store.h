// The outgoing queue on disk, "DataBackup.bin": one record per entry in
// queue order (flag byte, envelope key of a reader data package, length
// varint, the package) and nothing else. The coding of the records, apart
// from any file and any queue; OutgoingQueue's SaveQtoFile and LoadQFromFile
// (queue_store.cpp) write and read the file with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "backbone/envelope.h"

// A package larger than this is no package of the reader's: the record
// cannot be valid.
constexpr uint32_t kMaxBackupPackageBytes = 1 << 20;
constexpr int kMaxBackupRecordHeader = 1 + kMaxEnvelopeHeaderBytes;

// Writes the bytes that precede a package of length bytes in its record;
// returns their count.
int EncodeBackupRecordHeader(uint8_t flags, uint32_t length, uint8_t* out);
// Writes one whole record (flag byte, header, package) to file: its bytes,
// 0 when a write failed.
size_t WriteBackupRecord(FILE* file, uint8_t flags, const std::string& package);

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
