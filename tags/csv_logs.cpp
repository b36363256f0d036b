#include "tags/csv_logs.h"

#include <sys/stat.h>
#include "platform/log.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/paths.h"

std::atomic<uint32_t> PacketCounter{0};

namespace {

struct LogOpening {
    const char* opener;     // the function named in the open's log lines
    bool openedByFirstRow;
    bool announced;         // a debug line on success
};

// In CsvLog order.
constexpr LogOpening kOpening[kCsvLogCount] = {
    {"SerialParser", false, false},
    {"OpenDiagFile", false, true},
    {"OpenTagDiagFile", false, false},
    {"OpenTagParamFile", true, false},
    {"OpenMESMCalcParamFile", true, false},
    {"OpenRawDataFile", true, false},
    {"OpenRSSIFile", true, true},
    {"OpenPERTestFile", false, true},
};

struct LogStream {
    std::mutex mutex;
    FILE* fp = nullptr;  // under mutex
    std::string path;    // under mutex: the file fp writes to
};

LogStream Streams[kCsvLogCount];

// The parser thread's own: rows of one pass over the inbound queue.
std::vector<std::pair<CsvLog, std::string>> QueuedRows;

std::string PathOf(CsvLog log) {
    if (log == CsvLog::TagsActivity && LogFile[0] != '\0') return LogFile;
    return CsvLogPath(log, LogDir, NowSeconds());
}

void WriteLocked(FILE* fp, const char* text, size_t length) {
    std::fwrite(text, 1, length, fp);
    std::fflush(fp);
}

int CloseLocked(LogStream& stream) {
    if (!stream.fp) return 0;
    int rc = std::fclose(stream.fp);
    stream.fp = nullptr;
    return rc;
}

// -1 when the size cannot be had.
long long FileBytes(FILE* fp) {
    struct stat status;
    return fstat(fileno(fp), &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

// Every log is appended to: a start, or a test run, within the minute of
// the previous one has the same file name and must not wipe its rows.
FILE* OpenLogFile(CsvLog log, const std::string& path) {
    const LogOpening& how = kOpening[static_cast<int>(log)];
    FILE* fp = std::fopen(path.c_str(), "a");
    if (!fp) {
        // %m: the error text of fopen's errno, without strerror's shared buffer.
        if (log == CsvLog::TagsActivity) {
            LogLine(LOG_ERR, "SerialParser: Failed to open LogFile(%m)");
        } else {
            LogLine(LOG_ERR, "%s: failed to open %s (%m)", how.opener, path.c_str());
        }
        return nullptr;
    }
    if (how.announced) LogLine(LOG_DEBUG, "%s: opened file %s", how.opener, path.c_str());
    const char* header = CsvLogHeader(log);
    if (header && FileBytes(fp) == 0) WriteLocked(fp, header, std::strlen(header));
    return fp;
}

void OpenLocked(CsvLog log, LogStream& stream) {
    CloseLocked(stream);
    stream.path = PathOf(log);
    stream.fp = OpenLogFile(log, stream.path);
}

// The log goes on in a file named for this minute. It stays where it is
// within the minute it was opened, whose name it already has, and for good
// when its path was given with -f.
void RollOverLocked(CsvLog log, LogStream& stream, long long bytes) {
    const std::string next = PathOf(log);
    if (next == stream.path) return;
    FILE* fp = OpenLogFile(log, next);
    // Without a new file the old one is kept: a full card must not close
    // the activity log, without which the tags' records are dropped.
    if (!fp) return;
    LogLine(LOG_INFO, "RollOverCsvLogs: %s holds %lld bytes, the log goes on in %s", stream.path.c_str(), bytes,
           next.c_str());
    std::fclose(stream.fp);
    stream.fp = fp;
    stream.path = next;
}

LogStream& StreamOf(CsvLog log) { return Streams[static_cast<int>(log)]; }

void Open(CsvLog log) {
    LogStream& stream = StreamOf(log);
    std::lock_guard<std::mutex> lock(stream.mutex);
    OpenLocked(log, stream);
}

int Close(CsvLog log) {
    LogStream& stream = StreamOf(log);
    std::lock_guard<std::mutex> lock(stream.mutex);
    return CloseLocked(stream);
}

}  // namespace

void OpenTagsActFile() { Open(CsvLog::TagsActivity); }
void OpenDiagFile() { Open(CsvLog::Diag); }
void OpenTagDiagFile() { Open(CsvLog::TagDiag); }

void OpenParserLogs() {
    OpenTagsActFile();
    OpenDiagFile();
    OpenTagDiagFile();
}

void OpenRSSIFile() { Open(CsvLog::RSSI); }
int CloseRSSIFile() { return Close(CsvLog::RSSI); }

void OpenPERTestFile() {
    Open(CsvLog::PERTest);
    PacketCounter = 0;
}

int ClosePERTest() { return Close(CsvLog::PERTest); }

bool CsvLogOpen(CsvLog log) {
    LogStream& stream = StreamOf(log);
    std::lock_guard<std::mutex> lock(stream.mutex);
    return stream.fp != nullptr;
}

void WriteCsvRow(CsvLog log, const std::string& row) {
    LogStream& stream = StreamOf(log);
    std::lock_guard<std::mutex> lock(stream.mutex);
    if (!stream.fp && kOpening[static_cast<int>(log)].openedByFirstRow) OpenLocked(log, stream);
    if (stream.fp) WriteLocked(stream.fp, row.data(), row.size());
}

void QueueCsvRow(CsvLog log, std::string row) { QueuedRows.emplace_back(log, std::move(row)); }

void WriteQueuedCsvRows() {
    for (const auto& [log, row] : QueuedRows) WriteCsvRow(log, row);
    QueuedRows.clear();
}

void RollOverCsvLogs(long long maxBytes) {
    for (int i = 0; i < kCsvLogCount; ++i) {
        LogStream& stream = Streams[i];
        std::lock_guard<std::mutex> lock(stream.mutex);
        if (!stream.fp) continue;
        const long long bytes = FileBytes(stream.fp);
        if (bytes >= maxBytes) RollOverLocked(static_cast<CsvLog>(i), stream, bytes);
    }
}
