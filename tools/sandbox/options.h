#pragma once

#include <string>
#include <vector>

struct SandboxOptions {
    std::string dir;
    int seconds = 30;  // 0: until SIGINT or SIGTERM
    bool show = false;
    // The daemon keeps the sandbox's standard input, output and error.
    bool console = false;
    // When the daemon ends, the sandbox starts it again on SIGUSR1, as procd
    // respawns it; in between its files can be looked at undisturbed.
    bool respawn = false;
    std::string sim;  // empty: tarnel-subgsim beside the sandbox's executable
    std::vector<std::string> simArgs;
    bool noSim = false;
    // The RTC simulator runs only when asked for: a path, or the one beside
    // the sandbox's executable with --with-rtc.
    std::string rtc;
    bool withRtc = false;
    std::vector<std::string> rtcArgs;
    std::vector<std::string> daemon;  // program and its arguments
    int workKb = 0;  // above 0: the working directory is a tmpfs this small
    bool help = false;
};

extern const char kSandboxUsage[];

// False, with the reason in *error, for a command line that cannot be run.
bool ParseSandboxOptions(int argc, const char* const argv[], SandboxOptions* out, std::string* error);
