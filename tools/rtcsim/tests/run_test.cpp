// The simulator as a program, against a small fake reader over loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "RtcAcknowledgePersistedTagData.pb.h"
#include "RtcClockSync.pb.h"
#include "RtcCommandToReader.pb.h"
#include "RtcDiscoverZemloReadersBroadcast.pb.h"
#include "RtcPairingACK.pb.h"
#include "ZemloReaderDataPackage.pb.h"
#include "ZemloReaderPairing.pb.h"
#include "tools/rtcsim/rtc_stream.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBound = std::chrono::seconds(10);

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The simulator in a scratch directory, its lines in out.jsonl.
class RtcSim {
public:
    explicit RtcSim(std::vector<std::string> args) {
        char dirTemplate[] = "/tmp/rtcsim-test-XXXXXX";
        dir_ = mkdtemp(dirTemplate);
        args.insert(args.begin(), {RTCSIM_BINARY, "--port", "0", "--json", "--quiet", "--out", Out(), "--control",
                                   Control(), "--seconds", "60"});
        pid_ = fork();
        if (pid_ == 0) {
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~RtcSim() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    std::string Out() const { return dir_ + "/out.jsonl"; }
    std::string Control() const { return dir_ + "/control"; }
    void Send(const std::string& line) const { std::ofstream(Control()) << line << "\n"; }

    // The first captured group of the first line that matches, waiting for it.
    std::string WaitFor(const std::string& pattern) const {
        const std::regex re(pattern);
        for (auto end = Clock::now() + kBound; Clock::now() < end;) {
            for (const std::string& line : Lines(Out())) {
                std::smatch m;
                if (std::regex_search(line, m, re)) return m.size() > 1 ? m[1].str() : line;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return "";
    }
    int Port() const { return std::atoi(WaitFor("\"event\":\"LISTEN\".*\"port\":\"([0-9]+)\"").c_str()); }

private:
    std::string dir_;
    pid_t pid_ = -1;
};

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// The next whole envelope from fd, within the bound.
EnvelopeCutter::Cut NextEnvelope(int fd, EnvelopeCutter* cutter) {
    for (auto end = Clock::now() + kBound; Clock::now() < end;) {
        EnvelopeCutter::Cut cut = cutter->Next();
        if (cut.kind != EnvelopeCutter::Cut::Kind::kNone) return cut;
        pollfd p{fd, POLLIN, 0};
        char bytes[4096];
        ssize_t n = poll(&p, 1, 100) > 0 ? read(fd, bytes, sizeof bytes) : -1;
        if (n == 0) break;
        if (n > 0) cutter->Append(bytes, static_cast<size_t>(n));
    }
    return {};
}

bool WaitForEnd(int fd) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    return poll(&p, 1, 10000) > 0 && read(fd, &byte, 1) == 0;
}

}  // namespace

TEST(RtcSimRun, PairsAReaderAndAcknowledgesItsPackages) {
    RtcSim sim({"--keep-alive", "9", "--broadcast-every", "0"});
    const int port = sim.Port();
    ASSERT_GT(port, 0);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(port);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    ZemloReaderPairing pairing;
    pairing.set_reader_mac_address(0xAABBCCDDEEFFull);
    ZemloReaderDataPackage package;
    package.mutable_message_header()->set_message_index(7);
    package.add_tags_data()->set_tag_id(100001);
    ZemloReaderDataPackage keepAlive;
    keepAlive.mutable_message_header()->set_message_index(0);
    const std::string data = Frame(READERDATAPACKAGE, package);
    const std::string first = Frame(READERPAIRING, pairing) + data.substr(0, 3);
    const std::string rest = data.substr(3) + Frame(READERDATAPACKAGE, keepAlive);
    ASSERT_EQ(write(fd, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the package arrives in two reads
    ASSERT_EQ(write(fd, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));

    EnvelopeCutter cutter;
    EnvelopeCutter::Cut ack = NextEnvelope(fd, &cutter);
    ASSERT_EQ(ack.number, uint32_t{RTCPAIRACK});
    RtcPairingACK pairAck;
    ASSERT_TRUE(pairAck.ParseFromString(ack.body));
    EXPECT_EQ(pairAck.keep_alive_interval_seconds(), 9u);
    EXPECT_FALSE(pairAck.has_protocolversion());
    EXPECT_NEAR(static_cast<double>(pairAck.rtc_timestamp()), std::time(nullptr) * 1000.0, 5000.0);

    EnvelopeCutter::Cut persist = NextEnvelope(fd, &cutter);
    ASSERT_EQ(persist.number, uint32_t{RTCPERSISTACK});
    RtcAcknowledgePersistedTagData persistAck;
    ASSERT_TRUE(persistAck.ParseFromString(persist.body));
    ASSERT_EQ(persistAck.persisted_message_numbers_size(), 1);
    EXPECT_EQ(persistAck.persisted_message_numbers(0), 7u);
    EXPECT_EQ(persistAck.message_header().message_index(), 1u);
    ASSERT_NE(sim.WaitFor("\"kind\":\"KEEPALIVE\""), "");
    EnvelopeCutter::Cut keepAliveAnswer = NextEnvelope(fd, &cutter);
    ASSERT_EQ(keepAliveAnswer.number, uint32_t{RTCPERSISTACK});
    ASSERT_TRUE(persistAck.ParseFromString(keepAliveAnswer.body));
    EXPECT_EQ(persistAck.persisted_message_numbers_size(), 0) << "a keep-alive persists nothing";

    // A header no byte can repair ends the connection.
    ASSERT_EQ(write(fd, "\x18\x05", 2), 2);
    EXPECT_TRUE(WaitForEnd(fd));
    close(fd);
    ASSERT_NE(sim.WaitFor("\"event\":\"CLOSED\""), "");

    std::vector<std::string> kinds;
    for (const std::string& line : Lines(sim.Out())) {
        // One object per line. (protobuf's Struct, the generic JSON holder,
        // crashes in this test's ThreadSanitizer build: its map is inline
        // code over the uninstrumented library.)
        EXPECT_TRUE(line.size() > 1 && line.front() == '{' && line.back() == '}') << line;
        std::smatch kind;
        static const std::regex kindField("\"kind\":\"([A-Z0-9_]+)\"");
        if (std::regex_search(line, kind, kindField)) kinds.push_back(kind[1]);
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"READERPAIRING", "RTCPAIRACK", "READERDATAPACKAGE", "RTCPERSISTACK",
                                               "KEEPALIVE", "RTCPERSISTACK"}));
    EXPECT_NE(sim.WaitFor("\"reader_mac_address\":\"187723572702975\""), "");
}

TEST(RtcSimRun, SendsWhatItIsToldInOrderHoweverPaced) {
    RtcSim sim({"--broadcast-every", "0"});
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(sim.Port());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_NE(sim.WaitFor("\"event\":\"CONNECT\""), "");
    sim.Send("dribble 2 command RunBIT\nsplit 50 clocksync 1700000000123\nheader 10 4294967295");

    EnvelopeCutter cutter;
    EnvelopeCutter::Cut command = NextEnvelope(fd, &cutter);
    ASSERT_EQ(command.number, uint32_t{RTCCOMMAND_FIELDNUM});
    RtcCommandToReader toReader;
    ASSERT_TRUE(toReader.ParseFromString(command.body));
    EXPECT_EQ(toReader.command(), RtcCommandToReader::RunBIT);
    EXPECT_EQ(toReader.message_header().message_index(), 1u);
    EnvelopeCutter::Cut sync = NextEnvelope(fd, &cutter);
    ASSERT_EQ(sync.number, uint32_t{RTCCLOCKSYNC});
    RtcClockSync clockSync;
    ASSERT_TRUE(clockSync.ParseFromString(sync.body));
    EXPECT_EQ(clockSync.rtc_timestamp(), 1700000000123u);
    EXPECT_EQ(NextEnvelope(fd, &cutter).kind, EnvelopeCutter::Cut::Kind::kInvalid);
    close(fd);
}

TEST(RtcSimRun, BroadcastNamesTheListeningPort) {
    int udp = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(udp, reinterpret_cast<sockaddr*>(&address), &length), 0);
    RtcSim sim({"--broadcast-to", "127.0.0.1", "--broadcast-port", std::to_string(ntohs(address.sin_port)),
                "--broadcast-every", "100"});
    const int port = sim.Port();

    pollfd p{udp, POLLIN, 0};
    ASSERT_GT(poll(&p, 1, 10000), 0);
    uint8_t datagram[1024];
    ssize_t n = recv(udp, datagram, sizeof datagram, 0);
    uint32_t number = 0, bodyLength = 0;
    int header = GetFieldNumAndLen(datagram, &number, &bodyLength, static_cast<int32_t>(n));
    ASSERT_GT(header, 0);
    EXPECT_EQ(number, uint32_t{RTCDISCOVER});
    RtcDiscoverZemloReadersBroadcast broadcast;
    ASSERT_TRUE(broadcast.ParseFromArray(datagram + header, static_cast<int>(n - header)));
    EXPECT_EQ(static_cast<int>(broadcast.rtc_readers_tcp_port()), port);
    EXPECT_EQ(broadcast.rtc_ip_address(), "127.0.0.1");
    close(udp);
}

// Lines timed by the monotonic clock sit among the other programs' records;
// by default they count from the simulator's start.
TEST(RtcSimRun, TimesItsLinesFromItsStartOrByTheMonotonicClock) {
    for (const bool monotonic : {false, true}) {
        timespec before{};
        clock_gettime(CLOCK_MONOTONIC, &before);
        RtcSim sim(monotonic ? std::vector<std::string>{"--monotonic"} : std::vector<std::string>{});
        const double t = std::atof(sim.WaitFor("\"t\":([0-9.]+),\"event\":\"LISTEN\"").c_str());
        const double expected = monotonic ? static_cast<double>(before.tv_sec) + before.tv_nsec / 1e9 : 0;
        EXPECT_GE(t, expected) << "monotonic " << monotonic;
        EXPECT_LT(t, expected + 5) << "monotonic " << monotonic;
    }
}
