// Runs the built simulator on a pty of its own and talks to it as the daemon
// would. Waits are for conditions, each with a deadline, never fixed sleeps.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kDeadline{5000};
const std::vector<uint8_t> kVersionRequest = {0x01, 0x05, 0x14, 0x14, 0x04};
const std::vector<uint8_t> kVersionReply = {0x08, 0x01, 0x14, 0x14, 0x01, 0x06, 0x0a, 0x04};

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::trunc) << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A scratch directory and the simulator running in it; both go away with it.
class RunningSim {
public:
    RunningSim() {
        char templ[] = "/tmp/subgsim-test-XXXXXX";
        dir_ = mkdtemp(templ) ? templ : "";
    }

    ~RunningSim() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        for (const char* name : {"tty", "rec", "gpio", "script", "ctl"}) unlink(Path(name).c_str());
        rmdir(dir_.c_str());
    }

    std::string Path(const char* name) const { return dir_ + "/" + name; }

    // Returns the line the simulator prints once the link is in place.
    std::string Start(const std::vector<std::string>& extra) {
        int fds[2];
        if (dir_.empty() || pipe(fds) != 0) return "";
        std::vector<std::string> args = {SUBGSIM_BINARY, "--link", Path("tty"), "--record", Path("rec"),
                                          "--gpio-value", Path("gpio"), "--seconds", "30"};
        args.insert(args.end(), extra.begin(), extra.end());
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDOUT_FILENO);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
        return ReadLine();
    }

    int Stop() {
        kill(pid_, SIGTERM);
        int status = -1;
        Clock::time_point end = Clock::now() + kDeadline;
        while (Clock::now() < end && waitpid(pid_, &status, WNOHANG) == 0) {
            std::this_thread::sleep_for(milliseconds(5));
        }
        if (!WIFEXITED(status)) return -1;
        pid_ = -1;
        return WEXITSTATUS(status);
    }

    // Writes one line to the control FIFO.
    bool Control(const std::string& line) const {
        int fd = open(Path("ctl").c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) return false;
        std::string text = line + "\n";
        bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        return whole;
    }

    bool RecordHas(const std::string& text) const {
        Clock::time_point end = Clock::now() + kDeadline;
        while (Clock::now() < end) {
            if (ReadFile(Path("rec")).find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(milliseconds(5));
        }
        return false;
    }

private:
    std::string ReadLine() {
        std::string line;
        Clock::time_point end = Clock::now() + kDeadline;
        char c = 0;
        while (Clock::now() < end) {
            pollfd pfd{out_, POLLIN, 0};
            if (poll(&pfd, 1, 50) <= 0) continue;
            if (read(out_, &c, 1) != 1 || c == '\n') break;
            line += c;
        }
        return line;
    }

    std::string dir_;
    pid_t pid_ = -1;
    int out_ = -1;
};

std::vector<uint8_t> ReadBytes(int fd, size_t count) {
    std::vector<uint8_t> bytes;
    Clock::time_point end = Clock::now() + kDeadline;
    while (bytes.size() < count && Clock::now() < end) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 50) <= 0) continue;
        uint8_t buf[64];
        ssize_t n = read(fd, buf, std::min(sizeof buf, count - bytes.size()));
        if (n > 0) bytes.insert(bytes.end(), buf, buf + n);
    }
    return bytes;
}

bool WriteBytes(int fd, const std::vector<uint8_t>& bytes) {
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

TEST(SimulatorRun, AnswersResetsAndPlaysItsScript) {
    RunningSim sim;
    WriteFile(sim.Path("gpio"), "1\n");
    WriteFile(sim.Path("script"), "# greet the host\nreply 0 12 34\n");
    std::string banner = sim.Start({"--script", sim.Path("script"), "--reply-delay-ms", "0"});
    ASSERT_EQ(banner.rfind("subgsim: serial line at " + sim.Path("tty") + " (/dev/pts/", 0), 0u) << banner;

    int tty = open(sim.Path("tty").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(tty, 0);
    EXPECT_EQ(ReadBytes(tty, 7), (std::vector<uint8_t>{0x07, 0x01, 0x14, 0x00, 0x12, 0x34, 0x34}));

    std::vector<uint8_t> garbled = {0xaa};
    garbled.insert(garbled.end(), kVersionRequest.begin(), kVersionRequest.end());
    ASSERT_TRUE(WriteBytes(tty, garbled));
    EXPECT_EQ(ReadBytes(tty, 8), kVersionReply);
    EXPECT_TRUE(sim.RecordHas(" BAD bytes=aa\n"));
    EXPECT_TRUE(sim.RecordHas(" FRAME op=20 len=5 addr=1 data=\n"));
    EXPECT_TRUE(sim.RecordHas(" SENT op=20 len=8 data=01 06 0a\n"));

    WriteFile(sim.Path("gpio"), "0");
    ASSERT_TRUE(sim.RecordHas(" RESET low\n"));
    ASSERT_TRUE(WriteBytes(tty, kVersionRequest));
    EXPECT_TRUE(sim.RecordHas(" IGNORED len=5\n"));
    WriteFile(sim.Path("gpio"), "1");
    EXPECT_TRUE(sim.RecordHas(" RESET high low_ms="));

    ASSERT_TRUE(WriteBytes(tty, kVersionRequest));
    EXPECT_EQ(ReadBytes(tty, 8), kVersionReply);
    close(tty);

    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_NE(access(sim.Path("tty").c_str(), F_OK), 0) << "the link outlived the simulator";
}

TEST(SimulatorRun, TakesCommandsOnItsControlFifo) {
    RunningSim sim;
    WriteFile(sim.Path("gpio"), "1\n");
    sim.Start({"--control", sim.Path("ctl"), "--reply-delay-ms", "0"});
    int tty = open(sim.Path("tty").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(tty, 0);
    EXPECT_TRUE(sim.RecordHas(" STATE freq0=907.000 freq1=907.000 power0=127 power1=127 steady=300 "));

    ASSERT_TRUE(sim.Control("never 20"));
    ASSERT_TRUE(sim.RecordHas(" CONTROL never 20\n"));
    ASSERT_TRUE(WriteBytes(tty, kVersionRequest));
    ASSERT_TRUE(sim.RecordHas(" FRAME op=20 "));
    // Had the version been answered, its reply would come before this one.
    ASSERT_TRUE(sim.Control("reply 0 ab"));
    EXPECT_EQ(ReadBytes(tty, 6), (std::vector<uint8_t>{0x06, 0x01, 0x14, 0x00, 0xab, 0xb8}));
    ASSERT_TRUE(sim.Control("answer 20"));
    ASSERT_TRUE(sim.RecordHas(" CONTROL answer 20\n"));
    ASSERT_TRUE(WriteBytes(tty, kVersionRequest));
    EXPECT_EQ(ReadBytes(tty, 8), kVersionReply);

    ASSERT_TRUE(sim.Control("tags 20 77"));
    std::vector<uint8_t> tag = ReadBytes(tty, 26);
    ASSERT_EQ(tag.size(), 26u);
    EXPECT_EQ(tag[0], 26);
    EXPECT_EQ(tag[3], 0) << "opcode 0";
    EXPECT_EQ(tag[7], 77) << "the tag id's low byte";
    ASSERT_TRUE(sim.Control("tags 0"));
    EXPECT_TRUE(sim.RecordHas(" SENT op=0 len=26 data=00 12 02 4d 00 00 00 00 01 01 00 01 00 "));

    ASSERT_TRUE(sim.Control("never 300"));
    EXPECT_TRUE(sim.RecordHas(" CONTROL-ERROR never 300: bad opcode '300' (decimal 0-255)\n"));
    ASSERT_TRUE(sim.Control("forget all"));
    EXPECT_TRUE(sim.RecordHas(" STATE freq0=0.000 freq1=0.000 power0=0 power1=0 steady=0 region=0 channel=0 table=0 "));

    // What the board was told is still there after a reset pulse.
    WriteFile(sim.Path("gpio"), "0");
    ASSERT_TRUE(sim.RecordHas(" RESET low\n"));
    WriteFile(sim.Path("gpio"), "1");
    ASSERT_TRUE(sim.RecordHas(" RESET high low_ms="));
    const std::vector<uint8_t> steadyRequest = {0x01, 0x06, 0x14, 0x2b, 0x01, 0x39};
    ASSERT_TRUE(WriteBytes(tty, steadyRequest));
    EXPECT_EQ(ReadBytes(tty, 7), (std::vector<uint8_t>{0x07, 0x01, 0x14, 0x2b, 0x00, 0x00, 0x39}));
    close(tty);

    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_NE(access(sim.Path("ctl").c_str(), F_OK), 0) << "the FIFO outlived the simulator";
}

// Reads frames off the line until count of them have come, and notes
// when each one was complete.
std::vector<Clock::time_point> ReadFrames(int fd, size_t count) {
    std::vector<Clock::time_point> arrivals;
    std::vector<uint8_t> bytes;
    Clock::time_point end = Clock::now() + kDeadline;
    while (arrivals.size() < count && Clock::now() < end) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 50) <= 0) continue;
        uint8_t buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) bytes.insert(bytes.end(), buf, buf + n);
        while (arrivals.size() < count && !bytes.empty() && bytes.size() >= bytes[0] && bytes[0] > 0) {
            bytes.erase(bytes.begin(), bytes.begin() + bytes[0]);
            arrivals.push_back(Clock::now());
        }
    }
    return arrivals;
}

TEST(SimulatorRun, SendsTagTrafficOnCommandAndCountsIt) {
    RunningSim sim;
    WriteFile(sim.Path("gpio"), "1\n");
    sim.Start({"--control", sim.Path("ctl")});
    int tty = open(sim.Path("tty").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(tty, 0);

    ASSERT_TRUE(sim.Control("tag 7 3 2 activity,diag2,per"));
    EXPECT_EQ(ReadFrames(tty, 1).size(), 1u);
    EXPECT_TRUE(sim.RecordHas(" SENT op=0 len=49 data=00 29 02 07 00 00 00 03 01 03 02 01 03 "));
    ASSERT_TRUE(sim.Control("badtag length4 7 4"));
    EXPECT_TRUE(sim.RecordHas(" BADTAG kind=length4 tag=7 seq=4\n"));
    EXPECT_TRUE(sim.RecordHas(" RAW len=26 bytes=04 01 14 00 00 12 02 07 00 00 00 04 "));
    ASSERT_TRUE(sim.Control("badtag short 7 5"));
    EXPECT_TRUE(sim.RecordHas(" BADTAG kind=short tag=7 seq=5\n"));
    EXPECT_EQ(ReadBytes(tty, 2 * 26).size(), 2u * 26u);
    ASSERT_TRUE(sim.Control("stats"));
    EXPECT_TRUE(sim.RecordHas(" STATS tags=3 records=3\n"));

    // 300 a second: frame 60 is due 200 ms after the command, and the
    // stream never runs ahead of its schedule.
    Clock::time_point start = Clock::now();
    ASSERT_TRUE(sim.Control("tagrate 300 5000"));
    std::vector<Clock::time_point> arrivals = ReadFrames(tty, 60);
    ASSERT_EQ(arrivals.size(), 60u);
    EXPECT_GE(arrivals.back() - start, milliseconds(200));
    EXPECT_LT(arrivals.back() - start, milliseconds(2000));
    ASSERT_TRUE(sim.Control("tagrate 0"));
    EXPECT_TRUE(sim.RecordHas(" CONTROL tagrate 0\n"));
    EXPECT_TRUE(sim.RecordHas(" SENT op=0 len=26 data=00 12 02 88 13 00 00 00 01 01 00 01 00 "));
    EXPECT_TRUE(sim.RecordHas(" SENT op=0 len=26 data=01 12 02 89 13 00 00 01 01 01 00 01 01 ")) << "tag 5001's second";
    close(tty);

    EXPECT_EQ(sim.Stop(), 0);
    std::string record = ReadFile(sim.Path("rec"));
    size_t sent = 0;
    for (size_t at = record.find(" SENT op=0 "); at != std::string::npos; at = record.find(" SENT op=0 ", at + 1)) ++sent;
    size_t stats = record.rfind(" STATS ");
    ASSERT_NE(stats, std::string::npos);
    // Every message but the length-4 one went out as a frame. Each frame
    // brings one record, but the first brings two.
    EXPECT_EQ(record.substr(stats),
              " STATS tags=" + std::to_string(sent + 1) + " records=" + std::to_string(sent + 1) + "\n");
}

int RunToEnd(const std::string& args, std::string* output) {
    FILE* p = popen((std::string(SUBGSIM_BINARY) + " " + args + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) *output += buf;
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SimulatorRun, BadOptionsPrintUsageAndExitTwo) {
    std::string output;
    EXPECT_EQ(RunToEnd("--no-such-option", &output), 2);
    EXPECT_NE(output.find("usage: tarnel-subgsim"), std::string::npos);
    output.clear();
    EXPECT_EQ(RunToEnd("--link /tmp/x --version 1.2", &output), 2);
    output.clear();
    EXPECT_EQ(RunToEnd("--help", &output), 2);
    EXPECT_NE(output.find("--reply-delay-ms"), std::string::npos);
}

TEST(SimulatorRun, BadScriptNamesTheLineAndExitsTwo) {
    RunningSim scratch;
    WriteFile(scratch.Path("script"), "sleep 5\nsend 01 zz\n");
    std::string output;
    EXPECT_EQ(RunToEnd("--link " + scratch.Path("tty") + " --script " + scratch.Path("script"), &output), 2);
    EXPECT_NE(output.find("line 2"), std::string::npos) << output;
    EXPECT_NE(access(scratch.Path("tty").c_str(), F_OK), 0);
}

}  // namespace
