#include "app/options.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

uint64_t ReaderMacAddress = 1;

bool ParseOptions(int argc, char* argv[], TarnelOptions* out) {
    opterr = 0;
    optind = 1;
    int opt;
    while ((opt = getopt(argc, argv, "f:m:i:a:")) != -1) {
        switch (opt) {
            case 'f':
                out->logFile = optarg;
                break;
            case 'm':
                out->readerMac = static_cast<uint64_t>(std::atoll(optarg));
                break;
            default:
                return false;
        }
    }
    return true;
}

void ApplyOptions(const TarnelOptions& options, const char* printReadEnv) {
    // A path too long for the buffer is cut, never written past it.
    std::strncpy(LogFile, options.logFile.c_str(), sizeof(LogFile) - 1);
    LogFile[sizeof(LogFile) - 1] = '\0';
    ReaderMacAddress = options.readerMac;
    if (printReadEnv != nullptr) PrintReaderData = 1;
}
