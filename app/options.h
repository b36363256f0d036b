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

// Parses "f:m:i:a:". Returns false for -i, -a, unknown options and missing
// arguments: the caller ends the program.
bool ParseOptions(int argc, char* argv[], TarnelOptions* out);

// Stores parsed options and the environment into the process-wide values.
void ApplyOptions(const TarnelOptions& options, const char* printReadEnv);
