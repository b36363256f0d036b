// The status file: what a technician wants to know without reading syslog,
// as a small JSON object in a RAM directory, replaced whole at most every
// 10 s by the main thread; `Tarnel --status` prints it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <deque>
#include <string>
#include <utility>

#include "platform/log.h"

constexpr char kDefaultStatusFile[] = "/var/run/tarnel/status.json";
constexpr long long kStatusPeriodMicros = 10LL * 1000 * 1000;

struct ReaderStatus {
    time_t written = 0;
    std::string version;
    long long uptimeSeconds = 0;
    bool boardConnected = false;
    bool boardVersionsKnown = false;
    uint32_t boardApplication = 0;
    uint32_t boardBootLoader = 0;
    uint32_t boardBootRom = 0;
    std::string rtcState;
    std::string rtcAddress;  // "address:port"; empty before the first connection
    long long recordsWaiting = 0;
    long long packagesQueued = 0;
    long long recordsLastMinute = 0;
    time_t lastAcknowledgement = 0;  // 0: none yet
    time_t lastBackupWrite = 0;      // 0: none yet
    long long backupBytesWritten = 0;
    LoggedError lastError;
};

std::string StatusJson(const ReaderStatus& status);

// `Tarnel --status`: the file's fields as "key: value" lines on out, 0; or
// one line on err and 1 when it cannot be read or is no status file.
int PrintStatusFile(const char* path, FILE* out, FILE* err);

// How much a running total grew over the last minute, from samples taken
// every few seconds; it keeps only the samples that minute needs.
class MinuteIncrease {
public:
    void Sample(long long nowMicros, uint64_t total);
    uint64_t LastMinute() const;

private:
    std::deque<std::pair<long long, uint64_t>> samples_;
};

// The main thread's writer of the status file.
class StatusFileWriter {
public:
    StatusFileWriter(std::string path, long long startMicros);
    // Writes the file when it is due: at the first pass, then every
    // kStatusPeriodMicros.
    void Pass(long long nowMicros);

private:
    ReaderStatus Gather(long long nowMicros);

    std::string path_;
    long long startMicros_;
    long long nextMicros_;
    bool failing_ = false;
    MinuteIncrease records_;
};
