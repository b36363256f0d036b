// The outgoing queue: every reader data package handed over waits here,
// oldest first, until the paired RTC has it. A package written to the RTC
// stays, marked as written on that connection, until a persist
// acknowledgement names its index; after a drop it is written again, before
// any new package, on the next paired connection. An RTC that has
// acknowledged nothing since the start is trusted the old way: a package
// written whole has left. The
// queue is bounded by the tag records it holds; at the bound the oldest
// packages make room. Packages are held serialised, so that a full queue
// costs its bytes and little more.
//
// One OutgoingQueue holds all of it: the entries, their lock, the
// acknowledgements waiting for the sender and the backup file. The backbone
// thread creates it with the link and hands it to the link (which queues
// the packages it assembles), the sender (which loads and drains it and
// tends its journal), the listener's handlers (clock corrections,
// acknowledgements) and the exit path (the journal made durable).
//
// Lock order: ReaderPackMutex (the package being assembled), then
// RTCMsgQMutex, then nothing else. No socket is written and no sleep is
// taken under RTCMsgQMutex; the journal's appends and marks are writes to
// the page cache, its fdatasync runs outside the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ZemloReaderDataPackage.pb.h"
#include "backbone/queue_journal.h"

constexpr int32_t kMaxQueuedTagRecords = 999999;

// Bits of an entry's flag byte, as the backup file stores it.
constexpr uint8_t kRedundantFlag = 0x01;        // left the queue; the loader skips it
constexpr uint8_t kDataTimeUpdatedFlag = 0x02;  // went through a clock correction

struct WaitingMsgSt {
    std::string Msg;          // the ZemloReaderDataPackage, serialised
    // Index and hand-over time together name a package: indexes start at 1
    // again in every run, so a package reloaded from the backup may share
    // its index with a new one.
    uint64_t MsgIndex = 0;     // its message_header.message_index, 0 when absent
    uint64_t PackageTime = 0;  // its package_timestamp, 0 when absent
    int32_t TagRecords = 0;   // its tags_data entries
    uint8_t Flags = 0;
    // The package may still carry the reader reports that a backup strips:
    // survey results, diagnostics, parameters, BIT results, extra_info.
    bool CarriesReports = false;
    // Its record in the backup file: where it starts and its bytes.
    uint64_t JournalOffset = kNotInJournal;
    uint32_t JournalBytes = 0;
    // In memory only: the paired connection it was last written on (0:
    // never) and on how many connections it was written.
    uint64_t WrittenOnConnection = 0;
    int ConnectionsWritten = 0;
};

// Entries and their counts, as a value: a backup is read into one of its
// own before it joins the queue.
struct WaitingMsgQ {
    std::deque<WaitingMsgSt> Entries;
    int32_t TagDataCount = 0;  // tag records in all entries
    // No entry has a higher index. Hand-overs draw ever higher indices, so
    // a new package is told apart from a full queue without walking it.
    uint64_t IndexBound = 0;
};

// An entry for package with the given flag byte. False when the message
// library fails on it.
bool MakeWaitingMsg(const ZemloReaderDataPackage& package, uint8_t flags, WaitingMsgSt* entry);

// Appends entry, first dropping the oldest entries until its tag records
// fit the bound; leaving, when given, sees each one dropped.
void PushMsgToLimitedQ(WaitingMsgQ* queue, WaitingMsgSt entry,
                       const std::function<void(WaitingMsgSt&)>& leaving = nullptr);

// A package is written on at most this many connections; then it leaves
// the queue unacknowledged, with an error line.
constexpr int kMaxConnectionsWritten = 3;

// Where the backup goes: on the SD card when its device exists and the
// folder can be written, else in the working directory.
struct BackupLocation {
    std::string sdDevice = "/dev/mmcblk0p1";
    std::string probeFile = "/home/DummyFile.txt";
    std::string sdBackupFile = "/home/DataBackup.bin";
    std::string localBackupFile = "./DataBackup.bin";
};

class OutgoingQueue {
public:
    explicit OutgoingQueue(BackupLocation location = BackupLocation()) : Location(std::move(location)) {}

    // --- packages (msg_queue.cpp) ---
    // Queues a copy of package unless the same package is queued already.
    void AddMsgToQ(const ZemloReaderDataPackage& package);
    // Copies of up to count entries to write on the paired connection
    // `connection`, marked as written on it: first those written on an
    // earlier connection and not acknowledged, then new ones, each in index
    // order; never one written on this connection already. A package written
    // on kMaxConnectionsWritten connections leaves instead. False, without
    // waiting, when the lock is busy. *more tells whether others wait.
    bool TakeToWrite(uint64_t connection, size_t count, std::vector<WaitingMsgSt>* copies, bool* more);
    // The package went out whole: until the RTC has acknowledged anything,
    // it has left the queue.
    void WrittenWhole(const WaitingMsgSt& package);
    // The packages of a burst from the first that did not go out: they
    // count as not written on that connection.
    void NotWritten(const std::vector<WaitingMsgSt>& packages);
    // The package cannot be sent at all: it leaves the queue.
    void Discard(const WaitingMsgSt& package);
    // The RTC's persist acknowledgement: the written packages of these
    // indexes leave the queue. Indexes not queued are ignored.
    void Persisted(const std::vector<uint64_t>& indexes);
    // Called just before the clock is set to newSeconds: the tag records of
    // every entry not yet corrected move by the clock's jump when it exceeds
    // 10 seconds either way; every entry is marked corrected in any case.
    void UpdateDataTime(long newSeconds);
    // The highest message index queued, 0 for an empty queue.
    uint64_t HighestQueuedIndex();
    // Copies of the entries and the count of their tag records, for tools.
    std::vector<WaitingMsgSt> Entries();
    int32_t TagDataCount();
    // The packages queued, their tag records and the bytes written to the
    // backup since the start, read together without a copy, for the status
    // file.
    struct Counts {
        size_t packages;
        int32_t tagRecords;
        uint64_t backupBytesWritten;
    };
    Counts QueuedCounts();

    // Message indexes of RTC messages waiting for the reader's
    // ZemloMessageACK, under a lock of their own: the listener adds, the
    // sender takes them all.
    void AddAckWaiting(uint64_t index);
    std::vector<uint64_t> TakeAckWaiting();

    // --- the backup file (queue_store.cpp) ---
    // The file is a journal: once the backup has been loaded, every package
    // entering the queue is appended to it (stripped of its reader reports)
    // and every package leaving it is marked in place. Nothing touches the
    // file before the load: it may hold packages not yet read.
    //
    // Chooses the file anew at each call: the SD card may come and go.
    std::string GetDataBackupFilePathName();
    // Compaction: writes the whole queue, stripped of its reader reports,
    // in place of the previous file, and continues the journal in it. A
    // failed save leaves the previous file whole and the journal as it
    // was. False on failure; the queue is unchanged.
    bool SaveQtoFile();
    // Reads the backup and puts its packages in front of those queued since
    // the start; records marked as left are skipped. A file cut inside its
    // last record keeps the records before the cut; a record damaged in the
    // middle keeps those before it and the file is set aside as
    // "DataBackup.bin.bad.<n>". The journal then continues in the file, which
    // is compacted first when the load cut it short, set it aside or dropped
    // packages at the bound. Records that left stay in it, as they would in
    // a running journal, until they hold more than half of it: a restart
    // does not rewrite a full queue for a few. True when a file was read
    // (whole or in part).
    bool LoadQFromFile();
    // Set once a load has been tried, so that no new package takes an index
    // before the reloaded ones are known.
    bool BackupLoaded() const { return LoadTried.load(); }
    // While the RTC is paired the package being assembled may wait up to a
    // keep-alive interval before it is handed over. So a copy of it,
    // stamped with the index it will take, goes to the journal as it grows
    // (not into the queue). Each copy supersedes the one before, and the
    // package itself, once queued, the last one. A superseded copy is
    // marked as left once the sync after its successor has made that
    // durable, or at once when a package of its index leaves the queue; a
    // load keeps the last of consecutive records of one index.
    void JournalGrowingPackage(const ZemloReaderDataPackage& package);
    // Once a second, from the sender: retries a journal in trouble, compacts
    // when records that left hold more than half of the file or the clock
    // was corrected, and makes the appends and marks durable.
    void TendJournal();
    // At exit: the journal made durable, rewritten once when in trouble.
    // Leaves a backup not yet loaded as it is.
    void MakeJournalDurable();
    // The wall-clock time the backup last took the queue's changes (synced
    // or written anew), 0 before the first: for the status file.
    time_t LastBackupWriteTime() const { return LastBackupWrite.load(); }

private:
    // Every way out of the queue passes here, under RTCMsgQMutex, before
    // RemoveLeftEntries erases the entry: acknowledged, counted as sent,
    // dropped at the bound, dropped after kMaxConnectionsWritten connections.
    // Its record in the journal is marked as left.
    void LeaveQueue(WaitingMsgSt& entry);
    void RemoveLeftEntries();
    // The queued entry that is package, among those handed to the link
    // (they lead the queue); nullptr when it has left.
    WaitingMsgSt* FindWritten(const WaitingMsgSt& package);
    bool LoadFrom(const std::string& path);
    // Older packages first: the bound then drops from the backup's before
    // those queued since the start. True when an entry was dropped.
    bool PutInFrontOfQueue(WaitingMsgQ&& loaded);
    // LeaveQueue's part on disk: the entry's record, and the copies it
    // superseded, are marked as left.
    void MarkLeftInJournal(const WaitingMsgSt& entry);
    // Under RTCMsgQMutex, for the journal.
    void AppendToJournal(WaitingMsgSt& entry);
    // The flag byte of the record at offset, in place; false when not written.
    bool WriteFlagsToJournal(uint64_t offset, uint8_t flags);
    // The last copy of the growing package, when there is one, is now superseded.
    void SupersedeGrowingCopy();
    // Marks the copies of index (0: all of them) as left and forgets them.
    void MarkCopiesLeft(std::vector<SupersededCopy>* copies, uint64_t index);
    bool RewriteJournal();
    void JournalFailed(const char* what);
    // Continues the journal in path after a load, marking the copies the
    // load found superseded; rewritten when asked or when an entry is not
    // in it.
    void StartJournal(const std::string& path, uint64_t leftBytes, bool rewrite,
                      std::vector<SupersededCopy> superseded);

    const BackupLocation Location;
    std::atomic<bool> LoadTried{false};
    std::atomic<time_t> LastBackupWrite{0};

    std::mutex RTCMsgQMutex;  // guards RTCMsgQ, every entry, ConfirmedDelivery and the journal
    WaitingMsgQ RTCMsgQ;
    // Set by the first persist acknowledgement naming a package: from then
    // on a written package waits for its own.
    bool ConfirmedDelivery = false;
    size_t EntriesLeaving = 0;  // marked by LeaveQueue, not yet removed
    JournalFile Journal;
    StorageTrouble Trouble;
    bool JournalDirty = false;       // appends or marks not yet synced
    bool CompactionWanted = false;   // the records on disk are out of date
    WaitingMsgSt GrowingCopy;        // the last copy of the growing package; Msg empty when none
    std::vector<SupersededCopy> CopiesSuperseded;    // by a record not yet synced
    std::vector<SupersededCopy> CopiesSyncedOver;    // by a record the last sync made durable
    // The bytes written to the backup since the start: appends, flag bytes
    // set in place and the records of every rewrite (of one that failed,
    // those it wrote). What an SD card wears by.
    uint64_t BackupBytesWritten = 0;

    // The listener adds an index per RTC message, the sender takes them
    // while paired; an RTC that talks while the reader cannot answer must
    // not grow the list without end.
    std::mutex AckWaitingMutex;  // guards the two below
    std::vector<uint64_t> AckWaitingMsgList;
    size_t AckDropped = 0;  // dropped since the sender last took the list
};
