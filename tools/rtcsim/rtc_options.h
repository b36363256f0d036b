// The simulator's command line.
#pragma once

#include <string>

#include "tools/rtcsim/rtc_server.h"

struct RtcSimOptions {
    RtcSimConfig sim;
    std::string outPath;
    std::string scriptPath;
    std::string controlPath;
    std::string label;
    bool json = false;
    bool monotonic = false;
    bool quiet = false;
    bool help = false;
};

extern const char kRtcSimUsage[];

// False, with the reason in *error, for a command line that cannot be run.
bool ParseRtcSimOptions(int argc, char* const argv[], RtcSimOptions* out, std::string* error);
