#include "tags/csv_log_limit.h"

#include "platform/log.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "platform/dir_files.h"
#include "tags/csv_logs.h"
#include "tags/csv_rows.h"

namespace {

long long TotalBytes(const std::vector<CsvLogFile>& files) {
    long long total = 0;
    for (const CsvLogFile& file : files) total += file.bytes;
    return total;
}

// The daemon's logs among dir's files, or false when dir or the open files
// cannot be read: without knowing which logs are open, none may go.
bool ListCsvLogs(const std::string& dir, std::vector<CsvLogFile>* logs) {
    std::vector<DirFile> listed;
    std::vector<FileIdentity> open;
    if (!ListRegularFiles(dir, &listed)) {
        LogLine(LOG_ERR, "PruneCsvLogs: cannot read %s (%m)", dir.c_str());
        return false;
    }
    // After the directory: a log opened meanwhile is listed as open.
    if (!ListOpenFiles(&open)) {
        LogLine(LOG_ERR, "PruneCsvLogs: cannot list the open files (%m), no log removed");
        return false;
    }
    for (const DirFile& file : listed) {
        if (!IsStampedCsvLogName(file.name)) continue;
        const bool isOpen = std::find(open.begin(), open.end(), file.identity) != open.end();
        logs->push_back({file.name, file.bytes, file.modified, isOpen});
    }
    return true;
}

}  // namespace

std::vector<CsvLogFile> ChooseCsvLogsToDelete(std::vector<CsvLogFile> files, long long limitBytes) {
    long long held = TotalBytes(files);
    files.erase(std::remove_if(files.begin(), files.end(), [](const CsvLogFile& f) { return f.open; }), files.end());
    std::sort(files.begin(), files.end(), [](const CsvLogFile& a, const CsvLogFile& b) {
        return std::tie(a.modified, a.name) < std::tie(b.modified, b.name);
    });
    size_t count = 0;
    for (; count < files.size() && held > limitBytes; ++count) held -= files[count].bytes;
    files.resize(count);
    return files;
}

void PruneCsvLogs(const std::string& dir, long long limitBytes) {
    std::vector<CsvLogFile> logs;
    if (!ListCsvLogs(dir, &logs)) return;
    long long held = TotalBytes(logs);
    for (const CsvLogFile& file : ChooseCsvLogsToDelete(logs, limitBytes)) {
        const std::string path = dir + "/" + file.name;
        if (std::remove(path.c_str()) != 0) {
            LogLine(LOG_ERR, "PruneCsvLogs: cannot remove %s (%m)", path.c_str());
            continue;
        }
        LogLine(LOG_INFO, "PruneCsvLogs: removed %s (%lld bytes), the logs held %lld bytes over the limit of %lld",
               path.c_str(), file.bytes, held - limitBytes, limitBytes);
        held -= file.bytes;
    }
}

void KeepCsvLogsWithin(const std::string& dir, long long limitBytes) {
    RollOverCsvLogs(limitBytes / kOpenLogShareOfLimit);
    PruneCsvLogs(dir, limitBytes);
}
