#include "backbone/queue_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "backbone/queue_store.h"

namespace {

// Writes all of data at offset, resuming after short writes.
bool WriteAllAt(int fd, const uint8_t* data, size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace

bool JournalFile::Open(const std::string& path) {
    Close();
    FilePath = path;
    Fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (Fd < 0) return false;
    struct stat st {};
    if (fstat(Fd, &st) != 0) {
        const int saved = errno;
        Close();
        errno = saved;
        return false;
    }
    Size = static_cast<uint64_t>(st.st_size);
    Left = 0;
    return true;
}

void JournalFile::Close() {
    if (Fd >= 0) close(Fd);
    Fd = -1;
    Size = 0;
    Left = 0;
}

bool JournalFile::Append(uint8_t flags, const std::string& package, uint64_t* offset, uint32_t* recordBytes) {
    uint8_t header[kMaxBackupRecordHeader];
    const int headerBytes = EncodeBackupRecordHeader(flags, static_cast<uint32_t>(package.size()), header);
    std::string record(reinterpret_cast<const char*>(header), static_cast<size_t>(headerBytes));
    record += package;
    if (!WriteAllAt(Fd, reinterpret_cast<const uint8_t*>(record.data()), record.size(), Size)) {
        const int saved = errno;
        // A part written would sit before the next append's record.
        if (ftruncate(Fd, static_cast<off_t>(Size)) != 0) Close();
        errno = saved;
        return false;
    }
    *offset = Size;
    *recordBytes = static_cast<uint32_t>(record.size());
    Size += record.size();
    return true;
}

bool JournalFile::WriteFlags(uint64_t offset, uint8_t flags) { return WriteAllAt(Fd, &flags, 1, offset); }

int JournalFile::DupForSync() const { return Fd >= 0 ? fcntl(Fd, F_DUPFD_CLOEXEC, 0) : -1; }

bool StorageTrouble::Failed(long long now) {
    const bool starts = !Trouble;
    Pause = starts ? kFirstPause : std::min(Pause * 2, kLongestPause);
    NextTry = now + Pause;
    Trouble = true;
    return starts;
}

bool StorageTrouble::Succeeded() {
    const bool ends = Trouble;
    Trouble = false;
    Pause = 0;
    return ends;
}
