// tarnel-subgsim: stands in for the SubG board on a pseudo-terminal, so that
// the daemon can be run and shown without the hardware.
#include <fcntl.h>
#include <getopt.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "tools/subgsim/sim_loop.h"

namespace {

constexpr size_t kMaxScriptBytes = 1 << 20;
constexpr uint32_t kMaxTagsEveryMs = 24u * 3600u * 1000u;

volatile std::sig_atomic_t StopRequested = 0;

struct Options {
    int masterFd = -1;
    std::string link;
    std::string recordPath;
    std::string scriptPath;
    std::string controlPath;
    bool verbose = false;
    SimConfig sim;
};

void Usage(FILE* out) {
    std::fputs(
        "usage: tarnel-subgsim (--master-fd N | --link PATH) [options]\n"
        "Simulates the SubG board on a pseudo-terminal.\n"
        "  --master-fd N         use the inherited pty master descriptor N\n"
        "  --link PATH           create a pty and symlink PATH to its slave side\n"
        "  --gpio-value PATH     reset line value file (default /sys/class/gpio/gpio109/value)\n"
        "  --version A.B.C       software version reported (default 1.6.10)\n"
        "  --reply-delay-ms N    pause before each reply (default 2)\n"
        "  --initial-freq MHZ    frequency of both radios at start (default 907.0)\n"
        "  --initial-power CODE  power code of both radios at start, decimal or 0x.. (default 0x7F)\n"
        "  --initial-steady S    steady-state interval in seconds at start (default 300)\n"
        "  --tags-every MS       send a tag message every MS milliseconds (default 0: none)\n"
        "  --tag-id ID           tag id in those messages, first tag of the stream (default 100001)\n"
        "  --tag-rate N          from the start, a stream of N tag messages a second as tagrate\n"
        "                        below makes (0-1000, default 0: none)\n"
        "  --record FILE         write a machine-readable event line per event\n"
        "  --verbose             print human-readable event lines on stdout\n"
        "  --script FILE         run the commands below from FILE, one per line, from the start\n"
        "  --control PATH        create a FIFO at PATH; each line written to it runs at once\n"
        "  --seconds N           stop after N seconds (default: until SIGINT/SIGTERM)\n"
        "  --silent              act on and answer nothing (a board that does not respond)\n"
        "  --help                show this text\n"
        "Commands, in a script or on the control FIFO ('#' starts a comment):\n"
        "  sleep MS              wait before the next script line (script only)\n"
        "  send HEX..            put raw bytes on the line\n"
        "  reply OP [HEX..]      send a reply frame with opcode OP and these data bytes\n"
        "  silent on|off         stop/resume acting on and answering the host; tags go on\n"
        "  tags MS [TAGID]       a tag message every MS milliseconds from now on (0 stops)\n"
        "  tag TAGID SEQ DELAY SUBMSGS\n"
        "                        one tag message now, numbered SEQ, with delay count DELAY and\n"
        "                        the sub-messages SUBMSGS, a comma list of (or 'none'):\n"
        "                          activity     type 1, standard activity report\n"
        "                          unforwarded  type 3, activity report the host keeps to itself\n"
        "                          standup      type 15, just-stood-up report\n"
        "                          diag1 diag2  type 2, diagnostics, older 17 / current 20 bytes\n"
        "                          params       type 11, tag parameters\n"
        "                          per          type 7, PER test sample\n"
        "                          mems         type 63, MEMS calculation data\n"
        "                          raw          type 254, three raw data bytes\n"
        "                          type10       type 10 and its one byte\n"
        "                          unknown      type 5, unknown to the host\n"
        "                        the activity-type reports count up to SEQ\n"
        "  badtag KIND TAGID SEQ one malformed tag message now; KIND is one of\n"
        "                          format1   format identifier 1 instead of 2\n"
        "                          diag3     an activity report, then diagnostics version 3\n"
        "                          short     announces 3 sub-messages, bytes end after the first\n"
        "                          cut       an activity report, then a parameters report cut short\n"
        "                          checksum  a wrong frame checksum\n"
        "                          length4   a frame length byte of 4\n"
        "  tagrate N [TAGID]     N tag messages a second, evenly spaced, from tags TAGID to\n"
        "                        TAGID+9 in turn (default --tag-id), one activity report each\n"
        "                        and numbered per tag (0 stops; at most 1000)\n"
        "  stats                 record STATS tags=<messages> records=<records>: the messages of\n"
        "                        tags, tag, badtag and tagrate written so far, and the records a\n"
        "                        sound host delivers from them (also recorded at the end of the run)\n"
        "  diag                  send the diagnostics reply now, as asked for with opcode 17: fixed\n"
        "                        counters, the radio frequencies in front up to software 1.6.9\n"
        "  delay MS              reply delay from now on\n"
        "  never OP              never answer opcode OP (what it sets still takes effect)\n"
        "  answer OP             answer opcode OP again\n"
        "  forget freq 0|1       that radio's frequency becomes 0\n"
        "  forget steady         the steady-state interval becomes 0\n"
        "  forget all            frequencies, powers, interval, region, table, channel become 0\n"
        "  paramcheck V          the parameter-check reply carries V (default 1)\n"
        "  loader on|off         whether a stop request in the 2 s after a reset keeps the board\n"
        "                        in its boot loader (254, address 1) or boot ROM (15, address\n"
        "                        0xFD); there image lines (16) are answered with status 0 and\n"
        "                        activations (24, 18), deactivations (25, 19) and restarts are\n"
        "                        recorded as LOADER lines; the next reset starts the application,\n"
        "                        reporting the versions activated\n"
        "  loader caps LENGTH    the capability reply's length byte (default 21: four words)\n"
        "  loader line N ok|silent|error CODE\n"
        "                        how the loader answers image line N (from 0)\n"
        "OP, MS, TAGID, SEQ, DELAY, N and V are decimal. What the host sets survives a reset pulse.\n"
        "A channel scan (opcode 13; data: radio 0 or 1, or 2 for both) sends 30 RSSI readings per\n"
        "channel of the board's table and radio as set-frequency replies, one a millisecond, the radios\n"
        "taking turns; it ends after the last channel or at the stop request (opcode 14).\n",
        out);
}

bool ParseInt(const char* text, long min, long max, int* out) {
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < min || value > max) return false;
    *out = static_cast<int>(value);
    return true;
}

// Decimal, or hexadecimal after "0x"; no sign, no blanks.
bool ParseUnsigned(const char* text, unsigned long max, uint32_t* out) {
    bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    for (const char* c = digits; *c != '\0'; ++c) {
        int d = static_cast<unsigned char>(*c);
        if (hex ? !std::isxdigit(d) : !std::isdigit(d)) return false;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long value = std::strtoul(digits, &end, hex ? 16 : 10);
    if (errno != 0 || end == digits || *end != '\0' || value > max) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ParseFrequency(const char* text, float* out) {
    errno = 0;
    char* end = nullptr;
    float value = std::strtof(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(value >= 0.0f && value < 65536.0f)) return false;
    *out = value;
    return true;
}

bool ApplyStateOption(int opt, const char* arg, BoardState* state) {
    uint32_t n = 0;
    switch (opt) {
        case 'f':
            if (!ParseFrequency(arg, &state->freq[0])) return false;
            state->freq[1] = state->freq[0];
            return true;
        case 'p':
            if (!ParseUnsigned(arg, 255, &n)) return false;
            state->power[0] = state->power[1] = static_cast<uint8_t>(n);
            return true;
        case 'i': return ParseUnsigned(arg, UINT32_MAX, &state->steadySeconds);
        default: return false;
    }
}

bool ApplyOption(int opt, const char* arg, Options* o) {
    int n = 0;
    switch (opt) {
        case 'm': return ParseInt(arg, 0, INT_MAX, &o->masterFd);
        case 'l': o->link = arg; return !o->link.empty();
        case 'g': o->sim.gpioValuePath = arg; return true;
        case 'V': return ParseVersion(arg, &o->sim.version);
        case 'd': return ParseInt(arg, 0, kMaxReplyDelayMs, &o->sim.replyDelayMs);
        case 'r': o->recordPath = arg; return true;
        case 'v': o->verbose = true; return true;
        case 'q': o->sim.silent = true; return true;
        case 's': o->scriptPath = arg; return true;
        case 'S':
            if (!ParseInt(arg, 0, 10000000, &n)) return false;
            o->sim.seconds = n;
            return true;
        case 't': return ParseUnsigned(arg, kMaxTagsEveryMs, &o->sim.tagsEveryMs);
        case 'T': return ParseUnsigned(arg, UINT32_MAX, &o->sim.tagId);
        case 'R': return ParseUnsigned(arg, kMaxTagRate, &o->sim.tagRate);
        case 'c': o->controlPath = arg; return !o->controlPath.empty();
        default: return ApplyStateOption(opt, arg, &o->sim.initialState);
    }
}

// Returns -1 when the run may go on, else the exit code.
int ParseOptions(int argc, char** argv, Options* o) {
    static const option longOptions[] = {
        {"master-fd", required_argument, nullptr, 'm'}, {"link", required_argument, nullptr, 'l'},
        {"gpio-value", required_argument, nullptr, 'g'}, {"version", required_argument, nullptr, 'V'},
        {"reply-delay-ms", required_argument, nullptr, 'd'}, {"record", required_argument, nullptr, 'r'},
        {"verbose", no_argument, nullptr, 'v'}, {"script", required_argument, nullptr, 's'},
        {"seconds", required_argument, nullptr, 'S'}, {"help", no_argument, nullptr, 'h'},
        {"silent", no_argument, nullptr, 'q'}, {"initial-freq", required_argument, nullptr, 'f'},
        {"initial-power", required_argument, nullptr, 'p'}, {"initial-steady", required_argument, nullptr, 'i'},
        {"tags-every", required_argument, nullptr, 't'}, {"tag-id", required_argument, nullptr, 'T'},
        {"control", required_argument, nullptr, 'c'}, {"tag-rate", required_argument, nullptr, 'R'},
        {nullptr, 0, nullptr, 0},
    };
    int opt = 0;
    while ((opt = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
        if (opt == 'h') {
            Usage(stdout);
            return 2;
        }
        if (!ApplyOption(opt, optarg, o)) {
            if (optarg) std::fprintf(stderr, "tarnel-subgsim: bad value '%s'\n", optarg);
            Usage(stderr);
            return 2;
        }
    }
    if (optind != argc || (o->masterFd < 0) == o->link.empty()) {
        std::fputs("tarnel-subgsim: give exactly one of --master-fd and --link\n", stderr);
        Usage(stderr);
        return 2;
    }
    return -1;
}

bool LoadScript(const std::string& path, std::vector<ScriptCommand>* out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "tarnel-subgsim: cannot read script %s\n", path.c_str());
        return false;
    }
    std::string text(kMaxScriptBytes + 1, '\0');
    file.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    if (text.size() > kMaxScriptBytes) {
        std::fprintf(stderr, "tarnel-subgsim: script %s is larger than %zu bytes\n", path.c_str(), kMaxScriptBytes);
        return false;
    }
    ScriptParse parsed = ParseScript(text);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tarnel-subgsim: script %s %s\n", path.c_str(), parsed.error.c_str());
        return false;
    }
    *out = std::move(parsed.commands);
    return true;
}

int OpenNewMaster() {
    int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0) return -1;
    if (grantpt(fd) != 0 || unlockpt(fd) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Holding the slave side open keeps the master readable while the host has
// the port closed. The peer ioctl needs no path, so it also works when the
// slave is only reachable under another name.
int OpenSlave(int master) {
    int fd = ioctl(master, TIOCGPTPEER, O_RDWR | O_NOCTTY);
    if (fd >= 0) return fd;
    const char* name = ptsname(master);
    return name ? open(name, O_RDWR | O_NOCTTY) : -1;
}

bool MakeRaw(int slave) {
    termios t{};
    if (tcgetattr(slave, &t) != 0) return false;
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    return tcsetattr(slave, TCSANOW, &t) == 0;
}

bool PlaceLink(const std::string& link, const std::string& target) {
    struct stat st{};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "tarnel-subgsim: %s exists and is not a symlink\n", link.c_str());
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "tarnel-subgsim: symlink %s: %s\n", link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// Leaves the link alone if someone else has put a new one in its place.
void RemoveLink(const std::string& link, const std::string& target) {
    char current[PATH_MAX];
    ssize_t n = readlink(link.c_str(), current, sizeof current - 1);
    if (n < 0) return;
    current[n] = '\0';
    if (target == current) unlink(link.c_str());
}

void OnStopSignal(int) { StopRequested = 1; }

void CatchStopSignals() {
    struct sigaction sa{};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

struct Line {
    int master = -1;
    int slave = -1;
    std::string slaveName;
};

bool OpenLine(const Options& o, Line* line) {
    line->master = o.link.empty() ? o.masterFd : OpenNewMaster();
    if (line->master < 0 || fcntl(line->master, F_GETFD) < 0) {
        std::fprintf(stderr, "tarnel-subgsim: no pty master: %s\n", std::strerror(errno));
        return false;
    }
    const char* name = ptsname(line->master);
    line->slaveName = name ? name : "";
    line->slave = OpenSlave(line->master);
    if (line->slave < 0 || !MakeRaw(line->slave)) {
        std::fprintf(stderr, "tarnel-subgsim: cannot set up the pty slave: %s\n", std::strerror(errno));
        return false;
    }
    int flags = fcntl(line->master, F_GETFL);
    return flags >= 0 && fcntl(line->master, F_SETFL, flags | O_NONBLOCK) == 0;
}

int Run(Options o) {
    Line line;
    if (!OpenLine(o, &line)) return 1;
    ControlFifo control;
    if (!o.controlPath.empty()) {
        std::string error = control.Open(o.controlPath);
        if (!error.empty()) {
            std::fprintf(stderr, "tarnel-subgsim: control FIFO: %s\n", error.c_str());
            return 1;
        }
        o.sim.controlFd = control.ReadFd();
    }
    if (!o.link.empty()) {
        if (!PlaceLink(o.link, line.slaveName)) return 1;
        std::printf("subgsim: serial line at %s (%s)\n", o.link.c_str(), line.slaveName.c_str());
        std::fflush(stdout);
    }
    FILE* record = o.recordPath.empty() ? nullptr : std::fopen(o.recordPath.c_str(), "w");
    if (!o.recordPath.empty() && !record) {
        std::fprintf(stderr, "tarnel-subgsim: cannot write %s\n", o.recordPath.c_str());
        if (!o.link.empty()) RemoveLink(o.link, line.slaveName);
        return 1;
    }
    EventLog events(record, o.verbose ? stdout : nullptr);
    Simulator sim(line.master, o.sim, &events);
    sim.Run(&StopRequested);
    if (!o.link.empty()) RemoveLink(o.link, line.slaveName);
    if (record) std::fclose(record);
    close(line.slave);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    int exitCode = ParseOptions(argc, argv, &o);
    if (exitCode >= 0) return exitCode;
    if (!o.scriptPath.empty() && !LoadScript(o.scriptPath, &o.sim.script)) return 2;
    CatchStopSignals();
    return Run(o);
}
