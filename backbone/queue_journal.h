// The backup file as a journal: each package entering the outgoing queue
// is appended as one record, and when it leaves, bit 0 of the record's flag
// byte is set in place. Appends and marks go to the page cache at once and
// are made durable by one fdatasync a second. A full rewrite (compaction)
// replaces the file when records that left hold most of it.
#pragma once

#include <cstdint>
#include <string>

// An entry's record not being in the journal.
constexpr uint64_t kNotInJournal = UINT64_MAX;

// A record in the journal that a later one holds all of: a copy of the
// package being assembled, superseded by the next copy or the package.
struct SupersededCopy {
    uint64_t index;   // the package's message index
    uint64_t offset;  // where its record starts
    uint32_t bytes;   // its record's bytes
    uint8_t flags;    // its flag byte
};

// The open journal file. Not thread-safe: its owner's lock guards it.
class JournalFile {
public:
    static constexpr uint64_t kMinCompactedBytes = 64 * 1024;

    JournalFile() = default;
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;
    ~JournalFile() { Close(); }

    // Opens path for appends at its end. False with errno set.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return Fd >= 0; }
    const std::string& Path() const { return FilePath; }

    // Appends a record (flag byte, header, package); *offset is where it
    // starts. A failed append is cut off again, so that the file still ends
    // at a record boundary. False with errno set.
    bool Append(uint8_t flags, const std::string& package, uint64_t* offset, uint32_t* recordBytes);
    // Writes the flag byte of the record at offset. False with errno set.
    bool WriteFlags(uint64_t offset, uint8_t flags);
    // A descriptor of the file for an fdatasync outside the owner's lock,
    // or -1; the caller closes it.
    int DupForSync() const;

    uint64_t Bytes() const { return Size; }
    uint64_t LeftBytes() const { return Left; }
    void AddLeft(uint64_t bytes) { Left += bytes; }
    // Records that left hold more than half of the file, and it is past
    // the size below which its rewrite would cost more writes than it saves:
    // while the RTC takes every package at once, nearly all of it has left.
    bool WantsCompaction() const { return Left * 2 > Size && Size >= kMinCompactedBytes; }

private:
    int Fd = -1;
    std::string FilePath;
    uint64_t Size = 0;
    uint64_t Left = 0;
};

// Trouble writing the journal: logged once per episode, retried after a
// pause doubling from one second to a minute. Times are monotonic seconds.
class StorageTrouble {
public:
    // A failure at now; true when it starts an episode (log it).
    bool Failed(long long now);
    // A success; true when it ends an episode (log it).
    bool Succeeded();
    bool InTrouble() const { return Trouble; }
    // In trouble and the pause is over.
    bool RetryDue(long long now) const { return Trouble && now >= NextTry; }
    long long PauseSeconds() const { return Pause; }

private:
    static constexpr long long kFirstPause = 1;
    static constexpr long long kLongestPause = 60;
    bool Trouble = false;
    long long Pause = 0;
    long long NextTry = 0;
};
