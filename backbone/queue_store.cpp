#include "backbone/queue_store.h"

#include "platform/log.h"
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>
#include <algorithm>

#include "backbone/msg_queue.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "platform/timing.h"

namespace {

// A backup the load found damaged is kept for a technician under the first
// free name "<file>.bad.<n>"; past this many the oldest name is reused.
constexpr char kRejectedBackupSuffix[] = ".bad.";
constexpr int kMaxRejectedBackups = 100;

long long MonotonicSeconds() { return MonotonicMicros() / 1000000; }

// Clears the reader reports from a copy of an entry's package, so that only
// tags_data, package_timestamp and message_header go to disk. False when
// the message library fails on it.
bool StrippedBytes(const WaitingMsgSt& entry, std::string* bytes) {
    if (!entry.CarriesReports) {
        *bytes = entry.Msg;
        return true;
    }
    try {
        ZemloReaderDataPackage package;
        if (!package.ParsePartialFromString(entry.Msg)) return false;
        package.clear_channel_survey_results();
        package.clear_reader_diag_info();
        package.clear_reader_params_info();
        package.clear_reader_bit_results();
        package.clear_extra_info();
        return package.SerializePartialToString(bytes);
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "StripReports: caught an exception (%s)", e.what());
        return false;
    }
}

// The bytes an entry's record holds on disk; saved with its reports rather
// than not at all.
std::string DiskBytes(const WaitingMsgSt& entry) {
    std::string bytes;
    if (StrippedBytes(entry, &bytes)) return bytes;
    LogLine(LOG_ERR, "SaveQtoFile: package %llu keeps its reports", static_cast<unsigned long long>(entry.MsgIndex));
    return entry.Msg;
}

// Where a record starts in the file and its bytes.
using RecordPlace = std::pair<uint64_t, uint32_t>;

// Writes entry's record after those in places, and adds its place.
bool WriteRecord(FILE* file, const WaitingMsgSt& entry, std::vector<RecordPlace>* places) {
    const std::string bytes = DiskBytes(entry);
    const size_t recordBytes = WriteBackupRecord(file, entry.Flags, bytes);
    if (recordBytes == 0) return false;
    const uint64_t offset = places->empty() ? 0 : places->back().first + places->back().second;
    places->emplace_back(offset, static_cast<uint32_t>(recordBytes));
    return true;
}

// What a load found besides the packages it queued.
struct LoadFindings {
    uint64_t leftBytes = 0;     // in records marked as left
    std::vector<SupersededCopy> superseded;  // earlier copies of a growing package
    uint64_t cutBytes = 0;      // after the last whole record of a cut file
    bool damaged = false;       // a record no load can take, before the end
    bool dropped = false;       // packages the bound dropped
};

// Reads the file's records, from its start, into loaded.
void ReadJournal(FILE* file, WaitingMsgQ* loaded, LoadFindings* found) {
    uint64_t consumed = 0;
    uint64_t recordStart = 0;  // the sink runs once each record's bytes are read
    const BackupReadEnd end = ReadBackupRecords(
        [file, &consumed](uint8_t* out, size_t n) {
            const size_t got = std::fread(out, 1, n, file);
            consumed += got;
            return got;
        },
        [&](uint8_t flags, std::string&& bytes, bool whole) {
            if (!whole) return;  // a cut package, the file's last bytes: counted as cut below
            const uint64_t start = recordStart;
            recordStart = consumed;
            if (found->damaged) return;  // nothing after a damaged record is trusted
            if (flags & kRedundantFlag) {
                found->leftBytes += consumed - start;
                return;
            }
            ZemloReaderDataPackage package;
            WaitingMsgSt entry;
            if (!package.ParseFromString(bytes) || !MakeWaitingMsg(package, flags, &entry)) {
                found->damaged = true;
                return;
            }
            entry.Msg = std::move(bytes);
            entry.JournalOffset = start;
            entry.JournalBytes = static_cast<uint32_t>(consumed - start);
            WaitingMsgSt* last = loaded->Entries.empty() ? nullptr : &loaded->Entries.back();
            if (last != nullptr && entry.MsgIndex != 0 && last->MsgIndex == entry.MsgIndex) {
                // An earlier copy of the package that was growing, which
                // this record holds whole: the kill came before its mark.
                found->superseded.push_back({last->MsgIndex, last->JournalOffset, last->JournalBytes, last->Flags});
                loaded->TagDataCount -= last->TagRecords;
                loaded->Entries.pop_back();
            }
            PushMsgToLimitedQ(loaded, std::move(entry), [found](WaitingMsgSt&) { found->dropped = true; });
        });
    if (end == BackupReadEnd::kBadHeader || std::ferror(file) != 0) found->damaged = true;
    if (!found->damaged && consumed > recordStart) found->cutBytes = consumed - recordStart;
}

// Moves a damaged backup to the first free "<path>.bad.<n>"; why says what
// is wrong with it.
void SetAside(const std::string& path, const char* why, size_t kept) {
    std::string aside;
    for (int n = 1; n <= kMaxRejectedBackups; ++n) {
        aside = path + kRejectedBackupSuffix + std::to_string(n);
        if (access(aside.c_str(), F_OK) != 0) break;
    }
    if (RenameDurably(path.c_str(), aside.c_str()))
        LogLine(LOG_ERR, "LoadQFromFile: %s %s, kept as %s; the %zu packages before it are queued", path.c_str(), why,
               aside.c_str(), kept);
    else
        LogLine(LOG_ERR, "LoadQFromFile: %s %s and could not be renamed to %s (%s)", path.c_str(), why, aside.c_str(),
               strerror(errno));
}

}  // namespace

std::string OutgoingQueue::GetDataBackupFilePathName() {
    // The sender and the shutdown path may both probe: one's probe file
    // must not vanish under the other.
    static std::mutex probeMutex;
    std::lock_guard<std::mutex> lock(probeMutex);
    if (access(Location.sdDevice.c_str(), F_OK) == 0) {
        FILE* probe = std::fopen(Location.probeFile.c_str(), "wb");
        if (probe == nullptr) {
            LogLine(LOG_ERR, "GetDataBackupFilePathName: fopen returned NULL");
        } else if (std::fclose(probe) == EOF) {
            LogLine(LOG_ERR, "GetDataBackupFilePathName: fclose returned EOF");
        } else if (unlink(Location.probeFile.c_str()) != 0) {
            LogLine(LOG_ERR, "GetDataBackupFilePathName: unlink returned EOF");
        } else {
            LogLine(LOG_DEBUG, "GetDataBackupFilePathName: Data backup folder = %s", Location.sdBackupFile.c_str());
            return Location.sdBackupFile;
        }
    }
    LogLine(LOG_DEBUG, "GetDataBackupFilePathName: Data backup folder = %s", Location.localBackupFile.c_str());
    return Location.localBackupFile;
}

void OutgoingQueue::AppendToJournal(WaitingMsgSt& entry) {
    if (!Journal.IsOpen()) return;  // before the load, or in trouble: a rewrite brings it
    uint64_t offset = 0;
    uint32_t bytes = 0;
    if (!Journal.Append(entry.Flags, DiskBytes(entry), &offset, &bytes)) {
        JournalFailed("append to");
        return;
    }
    entry.JournalOffset = offset;
    entry.JournalBytes = bytes;
    BackupBytesWritten += bytes;
    JournalDirty = true;
}

bool OutgoingQueue::WriteFlagsToJournal(uint64_t offset, uint8_t flags) {
    if (!Journal.IsOpen() || offset == kNotInJournal) return false;
    if (!Journal.WriteFlags(offset, flags)) {
        JournalFailed("mark a package in");
        return false;
    }
    ++BackupBytesWritten;
    JournalDirty = true;
    return true;
}

void OutgoingQueue::MarkLeftInJournal(const WaitingMsgSt& entry) {
    // Its copies first: none may outlive it on disk and bring back a
    // package the RTC has.
    MarkCopiesLeft(&CopiesSyncedOver, entry.MsgIndex);
    MarkCopiesLeft(&CopiesSuperseded, entry.MsgIndex);
    if (WriteFlagsToJournal(entry.JournalOffset, static_cast<uint8_t>(entry.Flags | kRedundantFlag)))
        Journal.AddLeft(entry.JournalBytes);
}

void OutgoingQueue::MarkCopiesLeft(std::vector<SupersededCopy>* copies, uint64_t index) {
    const auto marked = [index](const SupersededCopy& copy) { return index == 0 || copy.index == index; };
    for (const SupersededCopy& copy : *copies)
        if (marked(copy) && WriteFlagsToJournal(copy.offset, static_cast<uint8_t>(copy.flags | kRedundantFlag)))
            Journal.AddLeft(copy.bytes);
    copies->erase(std::remove_if(copies->begin(), copies->end(), marked), copies->end());
}

void OutgoingQueue::SupersedeGrowingCopy() {
    if (GrowingCopy.JournalOffset != kNotInJournal)
        CopiesSuperseded.push_back(
            {GrowingCopy.MsgIndex, GrowingCopy.JournalOffset, GrowingCopy.JournalBytes, GrowingCopy.Flags});
    GrowingCopy = WaitingMsgSt();
}

void OutgoingQueue::JournalGrowingPackage(const ZemloReaderDataPackage& package) {
    WaitingMsgSt copy;
    if (!MakeWaitingMsg(package, 0, &copy)) return;
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    SupersedeGrowingCopy();
    GrowingCopy = std::move(copy);
    // Kept also when the append fails: a rewrite from memory writes it.
    AppendToJournal(GrowingCopy);
}

void OutgoingQueue::JournalFailed(const char* what) {
    // The file no longer tells the queue: it is written again from memory
    // once writing works.
    const int error = errno;
    const std::string path = Journal.Path();
    Journal.Close();
    if (Trouble.Failed(MonotonicSeconds()))
        LogLine(LOG_ERR, "Backup: failed to %s %s (%s); the queue is kept in memory and written again later",
               what, path.c_str(), strerror(error));
}

bool OutgoingQueue::RewriteJournal() {
    const std::string path = GetDataBackupFilePathName();
    std::vector<RecordPlace> places;
    const bool written = WriteFileAtomically(path.c_str(), [&](FILE* file) {
        for (const WaitingMsgSt& entry : RTCMsgQ.Entries)
            if (!WriteRecord(file, entry, &places)) return false;
        return GrowingCopy.Msg.empty() || WriteRecord(file, GrowingCopy, &places);
    });
    for (const auto& place : places) BackupBytesWritten += place.second;
    if (!written) {
        // The journal, when open, stays as it was and valid.
        const int error = errno;
        if (Trouble.Failed(MonotonicSeconds()))
            LogLine(LOG_ERR, "SaveQtoFile: failed to write file %s (%s)", path.c_str(), strerror(error));
        return false;
    }
    if (!Journal.Open(path)) {
        JournalFailed("open");
        return false;
    }
    for (size_t i = 0; i < RTCMsgQ.Entries.size(); ++i) {
        RTCMsgQ.Entries[i].JournalOffset = places[i].first;
        RTCMsgQ.Entries[i].JournalBytes = places[i].second;
    }
    if (!GrowingCopy.Msg.empty()) {
        GrowingCopy.JournalOffset = places.back().first;
        GrowingCopy.JournalBytes = places.back().second;
    }
    // The superseded copies stayed behind in the old file.
    CopiesSuperseded.clear();
    CopiesSyncedOver.clear();
    CompactionWanted = false;
    JournalDirty = false;
    LastBackupWrite = NowSeconds();
    if (Trouble.Succeeded()) LogLine(LOG_INFO, "Backup: %s written again from memory", path.c_str());
    return true;
}

bool OutgoingQueue::SaveQtoFile() {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    return RewriteJournal();
}

void OutgoingQueue::TendJournal() {
    if (!LoadTried) return;
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(RTCMsgQMutex);
        if (Trouble.InTrouble() ? Trouble.RetryDue(MonotonicSeconds())
                                : CompactionWanted || Journal.WantsCompaction())
            RewriteJournal();
        // The last sync made their successors durable: now a kill or a
        // power cut may take the mark, never the successor without it.
        MarkCopiesLeft(&CopiesSyncedOver, 0);
        CopiesSyncedOver.swap(CopiesSuperseded);
        if (JournalDirty) fd = Journal.DupForSync();
        JournalDirty = false;
    }
    // Outside the lock: the backbone keeps queueing while the card writes.
    if (fd < 0) return;
    const bool synced = fdatasync(fd) == 0;
    const int error = errno;
    close(fd);
    if (synced) {
        LastBackupWrite = NowSeconds();
        return;
    }
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    errno = error;
    JournalFailed("sync");
}

void OutgoingQueue::MakeJournalDurable() {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    if (!LoadTried) {
        LogLine(LOG_ERR, "MakeJournalDurable: the backup has not been read yet; it is left as it is");
        return;
    }
    if (!Journal.IsOpen() && !RewriteJournal()) return;
    if (JournalDirty && Journal.IsOpen()) {
        const int fd = Journal.DupForSync();
        if (fd >= 0 && fdatasync(fd) != 0)
            LogLine(LOG_ERR, "MakeJournalDurable: failed to sync %s (%s)", Journal.Path().c_str(), strerror(errno));
        if (fd >= 0) close(fd);
        JournalDirty = false;
    }
}

bool OutgoingQueue::LoadQFromFile() {
    const bool loaded = LoadFrom(GetDataBackupFilePathName());
    LoadTried = true;
    return loaded;
}

bool OutgoingQueue::LoadFrom(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        // A file there that cannot be read must not have the journal
        // appended to it: it goes aside and the journal starts anew.
        const bool absent = errno == ENOENT;
        LogLine(LOG_ERR, "LoadQFromFile: Failed to open file %s", path.c_str());
        if (!absent) SetAside(path, "cannot be opened", 0);
        StartJournal(path, 0, !absent, {});
        return false;
    }
    WaitingMsgQ loaded;
    LoadFindings found;
    try {
        ReadJournal(file, &loaded, &found);
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "LoadQFromFile: caught an exception %s", e.what());
        found.damaged = true;
    }
    std::fclose(file);
    if (found.cutBytes > 0)
        LogLine(LOG_ERR, "LoadQFromFile: %s ends inside a record; its last %llu bytes dropped", path.c_str(),
               static_cast<unsigned long long>(found.cutBytes));
    if (found.damaged) SetAside(path, "holds a damaged record", loaded.Entries.size());
    LogLine(LOG_INFO, "LoadQFromFile: %zu packages, %d tag records loaded", loaded.Entries.size(), loaded.TagDataCount);
    if (PutInFrontOfQueue(std::move(loaded))) found.dropped = true;
    // Records that left are cut by TendJournal's compaction once they hold
    // more than half of the file.
    StartJournal(path, found.leftBytes, found.cutBytes > 0 || found.damaged || found.dropped,
                 std::move(found.superseded));
    return true;
}

void OutgoingQueue::StartJournal(const std::string& path, uint64_t leftBytes, bool rewrite,
                                 std::vector<SupersededCopy> superseded) {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    const auto& entries = RTCMsgQ.Entries;
    rewrite = rewrite || std::any_of(entries.begin(), entries.end(),
                                     [](const WaitingMsgSt& e) { return e.JournalOffset == kNotInJournal; });
    if (rewrite) {
        RewriteJournal();
    } else if (!Journal.Open(path)) {
        JournalFailed("open");
    } else {
        Journal.AddLeft(leftBytes);
        MarkCopiesLeft(&superseded, 0);
    }
}

bool OutgoingQueue::PutInFrontOfQueue(WaitingMsgQ&& loaded) {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    WaitingMsgQ queuedSinceStart = std::move(RTCMsgQ);
    RTCMsgQ = std::move(loaded);
    bool dropped = false;
    for (WaitingMsgSt& entry : queuedSinceStart.Entries)
        PushMsgToLimitedQ(&RTCMsgQ, std::move(entry), [&dropped](WaitingMsgSt&) { dropped = true; });
    return dropped;
}

int EncodeBackupRecordHeader(uint8_t flags, uint32_t length, uint8_t* out) {
    out[0] = flags;
    int n = 1 + AddFieldNum(READERDATAPACKAGE, out + 1);
    return n + WriteUInt32Variant(length, out + n, kMaxVarintBytes);
}

size_t WriteBackupRecord(FILE* file, uint8_t flags, const std::string& package) {
    uint8_t header[kMaxBackupRecordHeader];
    const size_t n = static_cast<size_t>(EncodeBackupRecordHeader(flags, static_cast<uint32_t>(package.size()), header));
    const bool written = std::fwrite(header, 1, n, file) == n &&
                         std::fwrite(package.data(), 1, package.size(), file) == package.size();
    return written ? n + package.size() : 0;
}

BackupReadEnd ReadBackupRecords(const BackupByteSource& source, const BackupRecordSink& sink) {
    for (;;) {
        uint8_t flags = 0;
        if (source(&flags, 1) == 0) return BackupReadEnd::kClean;

        // Byte by byte: a header is at most ten, and no byte of the package
        // is taken before its length is known.
        uint8_t header[kMaxEnvelopeHeaderBytes];
        int have = 0;
        uint32_t number = 0;
        uint32_t length = 0;
        int headerLength = 0;
        HeaderState state = HeaderState::kIncomplete;
        while (state == HeaderState::kIncomplete) {
            if (have == kMaxEnvelopeHeaderBytes) return BackupReadEnd::kBadHeader;
            if (source(header + have, 1) == 0)
                return have == 0 ? BackupReadEnd::kEndsAfterFlag : BackupReadEnd::kEndsInHeader;
            ++have;
            state = ReadEnvelopeHeader(header, have, &number, &length, &headerLength);
        }
        if (state == HeaderState::kInvalid || length > kMaxBackupPackageBytes) return BackupReadEnd::kBadHeader;

        std::string package(length, '\0');
        const size_t got = source(reinterpret_cast<uint8_t*>(package.data()), length);
        if (length > 0 && got == 0) return BackupReadEnd::kEndsBeforePackage;
        package.resize(got);
        // A cut package is the file's last bytes: the next read ends cleanly.
        sink(flags, std::move(package), got == length);
    }
}
