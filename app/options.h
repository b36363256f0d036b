// Command-line options and the process-wide values they set.
#pragma once

#include <cstdint>
#include <string>

#include "backbone/reader_pack.h"
#include "platform/paths.h"

// From -m; the backbone takes it when it is not 0.
extern uint64_t ReaderMacAddress;

struct TarnelOptions {
    std::string logFile;
    uint64_t readerMac = 1;
};

enum class OptionsVerdict {
    Run,
    Help,     // --help: the usage, exit 0
    Version,  // --version: the version, exit 0
    Refused,  // -i, -a, an unknown option or a missing argument: the usage, exit 255
};

// Parses "f:m:i:a:" and the long options --help and --version.
OptionsVerdict ParseOptions(int argc, char* argv[], TarnelOptions* out);

// One line naming the options, with its line end.
extern const char kUsage[];

// Stores parsed options and the environment into the process-wide values.
void ApplyOptions(const TarnelOptions& options, const char* printReadEnv);
