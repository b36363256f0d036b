#include "tools/rtcsim/rtc_options.h"

#include <arpa/inet.h>
#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <string>

const char kRtcSimUsage[] =
    "usage: tarnel-rtcsim [options]\n"
    "Stands in for the farm's central server (the RTC): announces itself by UDP broadcast,\n"
    "accepts a reader on TCP, answers its pairing and its data packages, and prints every\n"
    "message, one line each.\n"
    "  --port N                 TCP port to listen on (default 53010; 0: any free port,\n"
    "                           shown in the LISTEN line)\n"
    "  --listen-address IP      address to listen on and to broadcast from (default 0.0.0.0: any,\n"
    "                           broadcasting from the address the system chooses)\n"
    "  --broadcast-to IP        where the discovery datagram goes (default 255.255.255.255;\n"
    "                           in a network namespace with only lo use 127.255.255.255)\n"
    "  --broadcast-port N       its UDP port (default 53000)\n"
    "  --broadcast-every MS     send it every MS milliseconds (default 2000; 0: on command only)\n"
    "  --recv-buffer BYTES      the receive buffer of each connection (SO_RCVBUF; default: the\n"
    "                           system's): small, a reader that is not read soon fills it\n"
    "  --announce-ip IP         rtc_ip_address in it (default: the address it leaves from)\n"
    "  --announce-port N|none   rtc_readers_tcp_port in it (default: the port we listen on)\n"
    "  --keep-alive N|none      keep_alive_interval_seconds of the pairing acknowledgement (default 5)\n"
    "  --protocol-version A.B.C send ProtocolVersion with it (default: absent, so the reader\n"
    "                           acknowledges our messages)\n"
    "  --clock now|now+MS|now-MS|MS\n"
    "                           rtc_timestamp of it, ms since the epoch (default now)\n"
    "  --no-pair-ack            do not answer pairing messages by ourselves\n"
    "  --no-persist-ack         do not acknowledge data packages by ourselves (a keep-alive is\n"
    "                           otherwise answered with an acknowledgement persisting nothing)\n"
    "  --persist on|off         name each data package in our acknowledgement (default on), or\n"
    "                           withhold them all (see the command persist)\n"
    "  --persist-skip N,N..     withhold the first acknowledgement of these indexes\n"
    "  --json                   print JSON lines instead of readable ones\n"
    "  --out FILE               also write the lines to FILE\n"
    "  --monotonic              time lines by the system's monotonic clock, as the board\n"
    "                           simulator and the sandbox's syslog do (default: seconds since\n"
    "                           our start)\n"
    "  --quiet                  print nothing on stdout\n"
    "  --label TEXT             put TEXT before every line printed on stdout\n"
    "  --verbose                print every discovery datagram, not only the first\n"
    "  --script FILE            run the commands below from FILE, one per line, from the start\n"
    "  --control PATH           create a FIFO at PATH; each line written to it runs at once\n"
    "  --seconds N              stop after N seconds (default: until SIGINT/SIGTERM)\n"
    "  --help                   show this text\n"
    "Lines: LISTEN, CONNECT, CLOSED, REFUSED, BAD (a stream that cannot be read; the\n"
    "connection is closed), RECV and SENT with the message kind (READERPAIRING,\n"
    "READERDATAPACKAGE, KEEPALIVE for a package with index 0, READERMSGACK, SURVEYPROGRESS,\n"
    "RTCPAIRACK, RTCPERSISTACK, ...) and its fields (persisted_message_numbers: the packages\n"
    "we persisted), WITHHELD (a package whose persisting we did not acknowledge), CONTROL,\n"
    "FLOOD, FLOOD_DONE, FLOOD_STOPPED,\n"
    "SENT_CUT (half an envelope before a reset), STATS (counts per kind, also at\n"
    "the end). JSON lines carry t, dir, envelope, kind and the message in protobuf's JSON\n"
    "mapping (64-bit numbers as strings), or t, event and the event's fields.\n";

namespace {

bool ParseNumber(const char* text, unsigned long max, uint32_t* out) {
    errno = 0;
    char* end = nullptr;
    if (text[0] < '0' || text[0] > '9') return false;
    unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > max) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ParsePort(const char* text, uint16_t* out) {
    uint32_t value = 0;
    if (!ParseNumber(text, 65535, &value)) return false;
    *out = static_cast<uint16_t>(value);
    return true;
}

bool IsIpv4(const char* text) {
    in_addr address{};
    return inet_pton(AF_INET, text, &address) == 1;
}

bool ParseOptionalNumber(const char* text, unsigned long max, std::optional<uint32_t>* out) {
    if (std::string(text) == "none") {
        out->reset();
        return true;
    }
    uint32_t value = 0;
    if (!ParseNumber(text, max, &value)) return false;
    *out = value;
    return true;
}

// Decimal indexes above 0, separated by commas.
bool ParseIndexList(const char* text, std::multiset<uint64_t>* out) {
    std::string list(text);
    for (size_t start = 0; start <= list.size();) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        const std::string word = list.substr(start, comma - start);
        char* end = nullptr;
        errno = 0;
        if (word.empty() || word[0] < '0' || word[0] > '9') return false;
        const unsigned long long index = std::strtoull(word.c_str(), &end, 10);
        if (errno != 0 || *end != '\0' || index == 0) return false;
        out->insert(index);
        start = comma + 1;
    }
    return true;
}

bool ApplyOption(int opt, const char* arg, RtcSimOptions* o) {
    RtcSimConfig& sim = o->sim;
    uint32_t n = 0;
    ProtocolVersion version{};
    switch (opt) {
        case 'p': return ParsePort(arg, &sim.tcpPort);
        case 'L': sim.listenAddress = arg; return IsIpv4(arg);
        case 'B': sim.broadcastTo = arg; return IsIpv4(arg);
        case 'b': return ParsePort(arg, &sim.broadcastPort) && sim.broadcastPort != 0;
        case 'e': return ParseNumber(arg, 24u * 3600u * 1000u, &sim.broadcastEveryMs);
        case 'R': return ParseNumber(arg, 1u << 24, &sim.recvBufferBytes) && sim.recvBufferBytes > 0;
        case 'i': sim.announceIp = arg; return true;
        case 'P': sim.announceListening = false; return ParseOptionalNumber(arg, 65535, &sim.announcePort);
        case 'k': return ParseOptionalNumber(arg, UINT32_MAX, &sim.pairing.keepAliveSeconds);
        case 'V':
            if (!ParseProtocolVersion(arg, &version)) return false;
            sim.pairing.protocolVersion = version;
            return true;
        case 'C': return ParseClockSetting(arg, &sim.pairing.clock);
        case 'a': sim.answerPairing = false; return true;
        case 'A': sim.answerData = false; return true;
        case 'W':
            if (std::string(arg) != "on" && std::string(arg) != "off") return false;
            sim.persistData = std::string(arg) == "on";
            return true;
        case 'K': return ParseIndexList(arg, &sim.withheldOnce);
        case 'j': o->json = true; return true;
        case 'o': o->outPath = arg; return !o->outPath.empty();
        case 'm': o->monotonic = true; return true;
        case 'q': o->quiet = true; return true;
        case 'l': o->label = arg; return true;
        case 'v': sim.verbose = true; return true;
        case 's': o->scriptPath = arg; return !o->scriptPath.empty();
        case 'c': o->controlPath = arg; return !o->controlPath.empty();
        case 'S':
            if (!ParseNumber(arg, 10000000, &n)) return false;
            sim.seconds = static_cast<int>(n);
            return true;
        default: return false;
    }
}

}  // namespace

bool ParseRtcSimOptions(int argc, char* const argv[], RtcSimOptions* out, std::string* error) {
    static const option longOptions[] = {
        {"port", required_argument, nullptr, 'p'},
        {"listen-address", required_argument, nullptr, 'L'},
        {"broadcast-to", required_argument, nullptr, 'B'},
        {"broadcast-port", required_argument, nullptr, 'b'},
        {"broadcast-every", required_argument, nullptr, 'e'},
        {"recv-buffer", required_argument, nullptr, 'R'},
        {"announce-ip", required_argument, nullptr, 'i'},
        {"announce-port", required_argument, nullptr, 'P'},
        {"keep-alive", required_argument, nullptr, 'k'},
        {"protocol-version", required_argument, nullptr, 'V'},
        {"clock", required_argument, nullptr, 'C'},
        {"no-pair-ack", no_argument, nullptr, 'a'},
        {"no-persist-ack", no_argument, nullptr, 'A'},
        {"persist", required_argument, nullptr, 'W'},
        {"persist-skip", required_argument, nullptr, 'K'},
        {"json", no_argument, nullptr, 'j'},
        {"out", required_argument, nullptr, 'o'},
        {"monotonic", no_argument, nullptr, 'm'},
        {"quiet", no_argument, nullptr, 'q'},
        {"label", required_argument, nullptr, 'l'},
        {"verbose", no_argument, nullptr, 'v'},
        {"script", required_argument, nullptr, 's'},
        {"control", required_argument, nullptr, 'c'},
        {"seconds", required_argument, nullptr, 'S'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    optind = 1;
    opterr = 0;
    int opt = 0;
    while ((opt = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
        if (opt == 'h') {
            out->help = true;
            return true;
        }
        if (opt == '?' || opt == ':') {
            *error = std::string("unknown option or missing value: ") + argv[optind - 1];
            return false;
        }
        if (!ApplyOption(opt, optarg, out)) {
            *error = std::string("bad value '") + (optarg ? optarg : "") + "'";
            return false;
        }
    }
    if (optind != argc) {
        *error = std::string("unexpected argument '") + argv[optind] + "'";
        return false;
    }
    return true;
}
