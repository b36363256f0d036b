// Command-line options and the process-wide values they set.
#pragma once

#include <syslog.h>

#include <cstdint>
#include <string>

#include "backbone/backbone_thread.h"
#include "backbone/reader_pack.h"
#include "app/status_file.h"
#include "backbone/rtc_allow_list.h"
#include "platform/paths.h"

// From -m and --rtc, for the backbone thread.
extern BackboneSettings BackboneStartSettings;

struct TarnelOptions {
    std::string logFile;
    uint64_t readerMac = 1;
    std::string workDir;        // --workdir; empty: the directory it was started in
    std::string logDir;         // --log-dir; empty: "/home" when it exists, else "/tmp"
    int logLevel = LOG_DEBUG;  // --log-level; messages of a higher priority number are not sent
    RTCAllowList allowedRTCs;
    unsigned logLimitMb = 0;   // --log-limit; 0: as the log directory's medium suits
    std::string statusFile = kDefaultStatusFile;  // --status-file
};

enum class OptionsVerdict {
    Run,
    Help,     // --help: the usage, exit 0
    Version,  // --version: the version, exit 0
    Status,   // --status: the status file's fields, exit 0, or 1 without a status file
    Refused,  // -i, -a, an unknown option, a missing or unusable argument, a malformed --rtc: the usage, exit 255
};

// Parses "f:m:i:a:" and the long options --workdir, --log-dir, --log-level,
// --log-limit, --rtc (repeatable), --status-file, --status, --help and
// --version.
OptionsVerdict ParseOptions(int argc, char* argv[], TarnelOptions* out);

// One line naming the options, with its line end.
extern const char kUsage[];

// The CSV logs' limit in megabytes: --log-limit, else the default for the
// log directory's medium.
unsigned CsvLogLimitMb(const TarnelOptions& options, bool logDirInRam);

// Stores parsed options and the environment into the process-wide values
// and sets the syslog mask. The working and log directories are taken at
// their own steps of the start-up.
void ApplyOptions(const TarnelOptions& options, const char* printReadEnv);
