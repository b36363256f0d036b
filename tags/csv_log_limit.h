// The CSV logs of the log directory held to a size together: a log being
// written is started anew once it passes a share of the limit, and the
// oldest closed logs are deleted while the logs hold more than the limit.
// Only files named as the daemon names its logs are counted or deleted, and
// never one this process holds open. Run once a minute by a thread that may
// wait on the disk, never by a serial thread.
#pragma once

#include <ctime>
#include <string>
#include <vector>

constexpr long long kBytesPerMegabyte = 1024 * 1024;

// Limits when none is configured. On the SD card (or any storage): most of
// a day of logs at 100 tag messages a second. In RAM (tmpfs): some forty
// minutes of them, little of the reader's memory.
constexpr unsigned kCsvLogLimitMbOnStorage = 512;
constexpr unsigned kCsvLogLimitMbInRam = 16;

// A log being written, which is never deleted, is started anew past this
// fraction of the limit: even the eight of the tags' logs open together then
// fit within it, and the oldest rows go a file at a time.
constexpr long long kOpenLogShareOfLimit = 8;

struct CsvLogFile {
    std::string name;
    long long bytes;
    time_t modified;
    bool open;  // being written by this process
};

// The logs to delete, in the order to delete them: the closed ones by
// their last write, oldest first (by name where two were written in the
// same second), until the rest together hold limitBytes or less. Open logs
// count but are never chosen; when they alone pass the limit, every closed
// log goes.
std::vector<CsvLogFile> ChooseCsvLogsToDelete(std::vector<CsvLogFile> files, long long limitBytes);

// Deletes what ChooseCsvLogsToDelete picks among dir's logs, each deletion
// logged.
void PruneCsvLogs(const std::string& dir, long long limitBytes);

// Rolls the open logs past their share over, then prunes dir.
void KeepCsvLogsWithin(const std::string& dir, long long limitBytes);
