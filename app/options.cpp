#include "app/options.h"

#include <getopt.h>

#include <cstdlib>
#include <cstring>

#include "platform/log.h"
#include "tags/csv_log_limit.h"

BackboneSettings BackboneStartSettings;

const char kUsage[] =
    "usage: Tarnel [-f activity-log-path] [-m reader-mac] [--workdir dir] [--log-dir dir] [--log-level 0-7]"
    " [--log-limit MB] [--rtc address[:port]]... [--status-file path] [--status] [--help] [--version]\n";

namespace {

// Outside the short options' range.
constexpr int kHelp = 'h' + 256;
constexpr int kVersion = 'v' + 256;
constexpr int kWorkDir = 'w' + 256;
constexpr int kLogDir = 'd' + 256;
constexpr int kLogLevel = 'l' + 256;
constexpr int kRtc = 'r' + 256;
constexpr int kLogLimit = 'L' + 256;
constexpr int kStatusFile = 'S' + 256;
constexpr int kStatus = 's' + 256;

// 1 TB: far beyond any card, and its bytes far from overflowing.
constexpr unsigned long kMaxLogLimitMb = 1024 * 1024;

constexpr option kLongOptions[] = {
    {"rtc", required_argument, nullptr, kRtc},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {"workdir", required_argument, nullptr, kWorkDir},
    {"log-dir", required_argument, nullptr, kLogDir},
    {"log-level", required_argument, nullptr, kLogLevel},
    {"log-limit", required_argument, nullptr, kLogLimit},
    {"status-file", required_argument, nullptr, kStatusFile},
    {"status", no_argument, nullptr, kStatus},
    {nullptr, 0, nullptr, 0},
};

// One digit, a syslog priority from LOG_EMERG to LOG_DEBUG.
bool ParseLogLevel(const char* text, int* level) {
    if (text[0] < '0' || text[0] > '0' + LOG_DEBUG || text[1] != '\0') return false;
    *level = text[0] - '0';
    return true;
}

// Whole megabytes from 1 to kMaxLogLimitMb, in decimal digits only.
bool ParseLogLimit(const char* text, unsigned* megabytes) {
    const size_t digits = std::strspn(text, "0123456789");
    if (digits == 0 || text[digits] != '\0') return false;
    // Saturates past the range of unsigned long, which is refused too.
    const unsigned long value = std::strtoul(text, nullptr, 10);
    if (value == 0 || value > kMaxLogLimitMb) return false;
    *megabytes = static_cast<unsigned>(value);
    return true;
}

}  // namespace

OptionsVerdict ParseOptions(int argc, char* argv[], TarnelOptions* out) {
    opterr = 0;
    // 0, not 1: getopt forgets a scan left in the middle of "-fx" as well.
    optind = 0;
    bool status = false;
    int opt;
    while ((opt = getopt_long(argc, argv, "f:m:i:a:", kLongOptions, nullptr)) != -1) {
        switch (opt) {
            case 'f':
                out->logFile = optarg;
                break;
            case 'm':
                out->readerMac = static_cast<uint64_t>(std::atoll(optarg));
                break;
            case kWorkDir:
                if (optarg[0] == '\0') return OptionsVerdict::Refused;
                out->workDir = optarg;
                break;
            case kLogDir:
                // Refused rather than cut: a shortened path would name another directory.
                if (optarg[0] == '\0' || std::strlen(optarg) >= sizeof(LogDir)) return OptionsVerdict::Refused;
                out->logDir = optarg;
                break;
            case kLogLevel:
                if (!ParseLogLevel(optarg, &out->logLevel)) return OptionsVerdict::Refused;
                break;
            case kRtc:
                // Refused rather than skipped: a reader that heard every
                // RTC because of a typing error would not say so.
                if (!out->allowedRTCs.Add(optarg)) return OptionsVerdict::Refused;
                break;
            case kLogLimit:
                if (!ParseLogLimit(optarg, &out->logLimitMb)) return OptionsVerdict::Refused;
                break;
            case kStatusFile:
                if (optarg[0] == '\0') return OptionsVerdict::Refused;
                out->statusFile = optarg;
                break;
            case kStatus:
                // After the whole line: --status-file may come later.
                status = true;
                break;
            case kHelp:
                return OptionsVerdict::Help;
            case kVersion:
                return OptionsVerdict::Version;
            default:
                return OptionsVerdict::Refused;
        }
    }
    return status ? OptionsVerdict::Status : OptionsVerdict::Run;
}

unsigned CsvLogLimitMb(const TarnelOptions& options, bool logDirInRam) {
    if (options.logLimitMb != 0) return options.logLimitMb;
    return logDirInRam ? kCsvLogLimitMbInRam : kCsvLogLimitMbOnStorage;
}

void ApplyOptions(const TarnelOptions& options, const char* printReadEnv) {
    // A path too long for the buffer is cut, never written past it.
    std::strncpy(LogFile, options.logFile.c_str(), sizeof(LogFile) - 1);
    LogFile[sizeof(LogFile) - 1] = '\0';
    BackboneStartSettings.readerMac = options.readerMac;
    BackboneStartSettings.allowedRTCs = options.allowedRTCs;
    if (printReadEnv != nullptr) PrintReaderData = 1;
    SetLogLevel(options.logLevel);
}
