#include "backbone/queue_store.h"

#include "platform/log.h"
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <utility>

#include "backbone/msg_queue.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"

namespace {

// Suffix of a backup that the load refused, kept for a technician.
constexpr char kRejectedBackupSuffix[] = ".bad";

const char* EndText(BackupReadEnd end) {
    switch (end) {
    case BackupReadEnd::kEndsAfterFlag:
        return "ends after a flag byte";
    case BackupReadEnd::kEndsInHeader:
        return "ends inside a header";
    case BackupReadEnd::kBadHeader:
        return "holds an invalid header";
    case BackupReadEnd::kEndsBeforePackage:
        return "ends before a package";
    case BackupReadEnd::kClean:
        break;
    }
    return "is complete";
}

bool WriteRecords(FILE* file, const WaitingMsgQ& queue) {
    for (const WaitingMsgSt& entry : queue.Entries) {
        uint8_t header[kMaxBackupRecordHeader];
        const int n = EncodeBackupRecordHeader(entry.Flags, static_cast<uint32_t>(entry.Msg.size()), header);
        if (std::fwrite(header, 1, n, file) != static_cast<size_t>(n) ||
            std::fwrite(entry.Msg.data(), 1, entry.Msg.size(), file) != entry.Msg.size())
            return false;
    }
    return true;
}

// Clears the reader reports from an entry still carrying them, so that only
// tags_data, package_timestamp and message_header remain. False when the
// message library fails on it.
bool StripReports(WaitingMsgSt* entry) {
    if (!entry->CarriesReports) return true;
    try {
        ZemloReaderDataPackage package;
        if (!package.ParsePartialFromString(entry->Msg)) return false;
        package.clear_channel_survey_results();
        package.clear_reader_diag_info();
        package.clear_reader_params_info();
        package.clear_reader_bit_results();
        package.clear_extra_info();
        if (!package.SerializePartialToString(&entry->Msg)) return false;
        entry->CarriesReports = false;
        return true;
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "StripReports: caught an exception (%s)", e.what());
        return false;
    }
}

// The entry for a package read back: its bytes as they were when they
// parse whole, else what the message library made of them.
bool EntryFromRecord(uint8_t flags, std::string&& bytes, bool whole, WaitingMsgSt* entry) {
    ZemloReaderDataPackage package;
    const bool parsed = package.ParseFromString(bytes);
    if (!MakeWaitingMsg(package, flags, entry)) return false;
    if (parsed && whole) entry->Msg = std::move(bytes);
    return true;
}

// Reads the file's records into loaded; *codingError tells of a package
// the message library failed on.
BackupReadEnd ReadBackupFile(FILE* file, WaitingMsgQ* loaded, bool* codingError) {
    return ReadBackupRecords([file](uint8_t* out, size_t n) { return std::fread(out, 1, n, file); },
                             [&](uint8_t flags, std::string&& bytes, bool whole) {
                                 WaitingMsgSt entry;
                                 if (EntryFromRecord(flags, std::move(bytes), whole, &entry))
                                     PushMsgToLimitedQ(loaded, std::move(entry));
                                 else
                                     *codingError = true;
                             });
}

void RejectBackup(const std::string& path, const char* why) {
    const std::string aside = path + kRejectedBackupSuffix;
    if (RenameAside(path.c_str(), kRejectedBackupSuffix))
        LogLine(LOG_ERR, "LoadQFromFile: %s %s, kept as %s; nothing of it is queued", path.c_str(), why, aside.c_str());
    else
        LogLine(LOG_ERR, "LoadQFromFile: %s %s and could not be renamed to %s (%s)", path.c_str(), why,
               aside.c_str(), strerror(errno));
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

bool OutgoingQueue::SaveQtoFile() {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    const std::string path = GetDataBackupFilePathName();
    if (RTCMsgQ.Entries.empty()) {
        LogLine(LOG_DEBUG, "SaveQtoFile: Q is empty");
        // Everything it held has been sent or dropped: loaded again, it
        // would be sent twice.
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            LogLine(LOG_ERR, "SaveQtoFile: failed to remove %s (%s)", path.c_str(), strerror(errno));
        return true;
    }
    for (WaitingMsgSt& entry : RTCMsgQ.Entries) {
        // Saved with its reports rather than not at all.
        if (!StripReports(&entry))
            LogLine(LOG_ERR, "SaveQtoFile: package %llu keeps its reports", static_cast<unsigned long long>(entry.MsgIndex));
    }
    if (!WriteFileAtomically(path.c_str(), [this](FILE* file) { return WriteRecords(file, RTCMsgQ); })) {
        LogLine(LOG_ERR, "SaveQtoFile: failed to write file %s (%s)", path.c_str(), strerror(errno));
        return false;
    }
    LastBackupWrite = NowSeconds();
    return true;
}

bool OutgoingQueue::LoadQFromFile() {
    const bool loaded = LoadFrom(GetDataBackupFilePathName());
    LoadTried = true;
    return loaded;
}

bool OutgoingQueue::LoadFrom(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        LogLine(LOG_ERR, "LoadQFromFile: Failed to open file %s", path.c_str());
        return false;
    }
    WaitingMsgQ loaded;
    bool codingError = false;
    BackupReadEnd end = BackupReadEnd::kClean;
    try {
        end = ReadBackupFile(file, &loaded, &codingError);
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "LoadQFromFile: caught an exception %s", e.what());
        codingError = true;
    }
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (end == BackupReadEnd::kEndsAfterFlag || end == BackupReadEnd::kEndsBeforePackage)
        LogLine(LOG_INFO, "LoadQFromFile: read 0 bytes closing file");
    if (readError || codingError || end != BackupReadEnd::kClean) {
        RejectBackup(path, readError ? "could not be read" : codingError ? "could not be decoded" : EndText(end));
        return false;
    }
    // The file stays until the next save replaces it: deleted now, a kill
    // before that save would lose every package it held.
    LogLine(LOG_INFO, "LoadQFromFile: %zu packages, %d tag records loaded", loaded.Entries.size(), loaded.TagDataCount);
    PutInFrontOfQueue(std::move(loaded));
    return true;
}

void OutgoingQueue::PutInFrontOfQueue(WaitingMsgQ&& loaded) {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    WaitingMsgQ queuedSinceStart = std::move(RTCMsgQ);
    RTCMsgQ = std::move(loaded);
    for (WaitingMsgSt& entry : queuedSinceStart.Entries) PushMsgToLimitedQ(&RTCMsgQ, std::move(entry));
}

int EncodeBackupRecordHeader(uint8_t flags, uint32_t length, uint8_t* out) {
    out[0] = flags;
    int n = 1 + AddFieldNum(READERDATAPACKAGE, out + 1);
    return n + WriteUInt32Variant(length, out + n, kMaxVarintBytes);
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
