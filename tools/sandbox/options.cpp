#include "options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

const char kSandboxUsage[] =
    "usage: tarnel-sandbox --dir DIR [--seconds N] [--show] [--console] [--respawn] [--sim PATH]\n"
    "                      [--sim-arg ARG]... [--no-sim] [--rtc PATH | --with-rtc] [--rtc-arg ARG]...\n"
    "                      [--work-kb N]\n"
    "                      -- DAEMON [ARGS...]\n"
    "  --console               the daemon keeps the sandbox's standard input, output and error\n"
    "                          (the simulator and syslog still write to DIR): run the sandbox\n"
    "                          on a terminal to drive the daemon's maintenance menu\n"
    "  --respawn               when the daemon ends, remove DIR/daemon.pid and start it\n"
    "                          again when the sandbox gets SIGUSR1 (DIR/sandbox.pid), which\n"
    "                          writes DIR/daemon.pid anew; for kill tests\n"
    "  --rtc PATH, --with-rtc  also run the RTC simulator (PATH, or tarnel-rtcsim beside the\n"
    "                          sandbox) in the daemon's network namespace; it broadcasts to\n"
    "                          127.255.255.255, writes DIR/rtc.log and DIR/rtc.pid and takes\n"
    "                          commands on the FIFO DIR/rtc.control\n"
    "  --rtc-arg ARG           one more argument for the RTC simulator\n"
    "  --work-kb N             DIR/work is a tmpfs of N kB inside the sandbox, for tests of a\n"
    "                          full disk (its files vanish with the sandbox)\n";

namespace {

bool ParseSeconds(const std::string& text, int* out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value > INT_MAX) return false;
    *out = static_cast<int>(value);
    return true;
}

// Handles an option that takes a value; false on a bad or missing value.
bool TakeValue(const std::string& name, const char* value, SandboxOptions* out, std::string* error) {
    if (!value) {
        *error = name + " needs a value";
        return false;
    }
    if (name == "--dir") {
        out->dir = value;
    } else if (name == "--sim") {
        out->sim = value;
    } else if (name == "--sim-arg") {
        out->simArgs.emplace_back(value);
    } else if (name == "--rtc") {
        out->rtc = value;
    } else if (name == "--rtc-arg") {
        out->rtcArgs.emplace_back(value);
    } else if (name == "--work-kb") {
        if (!ParseSeconds(value, &out->workKb)) {
            *error = std::string("--work-kb wants a whole number of kB, not '") + value + "'";
            return false;
        }
    } else if (!ParseSeconds(value, &out->seconds)) {
        *error = std::string("--seconds wants a whole number of seconds, not '") + value + "'";
        return false;
    }
    return true;
}

bool TakesValue(const std::string& name) {
    return name == "--dir" || name == "--seconds" || name == "--sim" || name == "--sim-arg" || name == "--rtc" ||
           name == "--rtc-arg" || name == "--work-kb";
}

bool CheckComplete(const SandboxOptions& options, std::string* error) {
    if (options.help) return true;
    if (options.dir.empty()) {
        *error = "--dir DIR is required";
    } else if (options.daemon.empty()) {
        *error = "no daemon given after --";
    } else if (options.noSim && !options.sim.empty()) {
        *error = "--sim and --no-sim exclude each other";
    } else if (!options.rtc.empty() && options.withRtc) {
        *error = "--rtc and --with-rtc exclude each other";
    } else if (!options.rtcArgs.empty() && options.rtc.empty() && !options.withRtc) {
        *error = "--rtc-arg needs --rtc PATH or --with-rtc";
    } else {
        return true;
    }
    return false;
}

}  // namespace

bool ParseSandboxOptions(int argc, const char* const argv[], SandboxOptions* out, std::string* error) {
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (TakesValue(arg)) {
            if (!TakeValue(arg, i + 1 < argc ? argv[++i] : nullptr, out, error)) return false;
        } else if (arg == "--show") {
            out->show = true;
        } else if (arg == "--console") {
            out->console = true;
        } else if (arg == "--respawn") {
            out->respawn = true;
        } else if (arg == "--no-sim") {
            out->noSim = true;
        } else if (arg == "--with-rtc") {
            out->withRtc = true;
        } else if (arg == "--help" || arg == "-h") {
            out->help = true;
        } else {
            *error = "unknown option '" + arg + "'";
            return false;
        }
    }
    for (; i < argc; ++i) out->daemon.emplace_back(argv[i]);
    return CheckComplete(*out, error);
}
