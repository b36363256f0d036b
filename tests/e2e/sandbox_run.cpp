#include "sandbox_run.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

void PauseBriefly() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

std::vector<char*> ArgvOf(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int StatusOf(int wstatus) {
    if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
    return -1;
}

// Waits for pid with a bound; kills it when the bound passes.
int WaitBounded(pid_t pid, int timeoutSeconds) {
    auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    int wstatus = 0;
    while (Clock::now() < deadline) {
        pid_t r = waitpid(pid, &wstatus, WNOHANG);
        if (r == pid) return StatusOf(wstatus);
        if (r < 0) return -1;
        PauseBriefly();
    }
    kill(pid, SIGKILL);
    waitpid(pid, &wstatus, 0);
    return -1;
}

// The simulator creates the FIFO once it runs: wait for it.
bool WriteLineToFifo(const std::string& path, const std::string& line) {
    auto deadline = Clock::now() + std::chrono::seconds(30);
    int fd = -1;
    while (fd < 0 && Clock::now() < deadline) {
        fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) PauseBriefly();
    }
    if (fd < 0) return false;
    std::string text = line + "\n";
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// The master side of a new pseudo-terminal, and the name of its other side.
int OpenConsolePty(std::string* slaveName) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) return -1;
    const char* name = ptsname(master);
    if (grantpt(master) != 0 || unlockpt(master) != 0 || name == nullptr) {
        close(master);
        return -1;
    }
    *slaveName = name;
    return master;
}

// In the forked child: the terminal becomes standard input, output and error.
void AttachConsole(const std::string& slaveName) {
    int slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
    for (int fd = 0; fd < 3; ++fd) dup2(slave, fd);
}

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

}  // namespace

std::vector<SerialFrame> HostFrames(const SandboxRun& run, int op) {
    static const std::regex re("^([0-9.]+) FRAME op=([0-9]+) len=[0-9]+ addr=[0-9]+ data=(.*)$");
    std::vector<SerialFrame> frames;
    for (const auto& line : run.MatchingLines(run.SerialPath(), " FRAME ")) {
        std::smatch m;
        if (!std::regex_match(line, m, re)) continue;
        SerialFrame f{std::stod(m[1]), std::stoi(m[2]), {}};
        std::istringstream hex(m[3]);
        std::string byte;
        while (hex >> byte) f.data.push_back(std::stoi(byte, nullptr, 16));
        if (op < 0 || f.op == op) frames.push_back(f);
    }
    return frames;
}

double MedianGap(const std::vector<SerialFrame>& frames) {
    std::vector<double> gaps;
    for (size_t i = 1; i < frames.size(); ++i) gaps.push_back(frames[i].t - frames[i - 1].t);
    if (gaps.empty()) return 0;
    std::sort(gaps.begin(), gaps.end());
    return gaps[gaps.size() / 2];
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string BuildDir() { return TARNEL_BUILD_DIR; }
std::string DaemonPath() { return BuildDir() + "/Tarnel"; }

double LineTime(const std::string& line) { return std::strtod(line.c_str(), nullptr); }

SandboxRun::SandboxRun() {
    char dirTemplate[] = "/tmp/tarnel-e2e-XXXXXX";
    dir_ = mkdtemp(dirTemplate) ? dirTemplate : "";
}

SandboxRun::SandboxRun(const std::string& dir) : dir_(dir), keepDir_(true) {}

SandboxRun::~SandboxRun() {
    Stop();
    if (!keepDir_ && !dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
}

void SandboxRun::Start(const SandboxOptions& options) {
    std::vector<std::string> args = {BuildDir() + "/tarnel-sandbox", "--dir", dir_, "--seconds",
                                     std::to_string(options.seconds)};
    for (const auto& a : options.simArgs) {
        args.push_back("--sim-arg");
        args.push_back(a);
    }
    if (options.withRtc || !options.rtcArgs.empty()) args.push_back("--with-rtc");
    if (options.workKb > 0) {
        args.push_back("--work-kb");
        args.push_back(std::to_string(options.workKb));
    }
    for (const auto& a : options.rtcArgs) {
        args.push_back("--rtc-arg");
        args.push_back(a);
    }
    std::string slaveName;
    if (options.console) {
        consoleFd_ = OpenConsolePty(&slaveName);
        args.push_back("--console");
    }
    args.push_back("--");
    args.push_back(DaemonPath());
    args.insert(args.end(), options.daemonArgs.begin(), options.daemonArgs.end());
    pid_ = fork();
    if (pid_ == 0) {
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        if (!slaveName.empty()) AttachConsole(slaveName);
        execv(args[0].c_str(), ArgvOf(args).data());
        _exit(127);
    }
}

int SandboxRun::WaitForExit(int timeoutSeconds) {
    if (pid_ <= 0) return -1;
    int status = WaitBounded(pid_, timeoutSeconds);
    pid_ = 0;
    return status;
}

// The terminal goes first: the sandbox's last words must not wait on a
// terminal nobody reads.
void SandboxRun::Stop() {
    CloseConsole();
    for (pid_t pid : besides_) {
        kill(pid, SIGTERM);
        WaitBounded(pid, 10);
    }
    besides_.clear();
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    WaitBounded(pid_, 20);
    pid_ = 0;
}

std::vector<std::string> SandboxRun::MatchingLines(const std::string& file, const std::string& pattern) const {
    std::regex re(pattern);
    std::vector<std::string> lines;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (std::regex_search(line, re)) lines.push_back(line);
    }
    return lines;
}

bool SandboxRun::WaitForLine(const std::string& file, const std::string& pattern, int timeoutSeconds,
                             size_t skip) {
    auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    while (Clock::now() < deadline) {
        if (MatchingLines(file, pattern).size() > skip) return true;
        PauseBriefly();
    }
    return false;
}

pid_t SandboxRun::PidFromFile(const std::string& name) const {
    std::ifstream in(dir_ + "/" + name);
    long pid = 0;
    in >> pid;
    return static_cast<pid_t>(pid);
}

pid_t SandboxRun::StartBeside(const std::vector<std::string>& argv) {
    // The sandbox writes its pid once its namespaces are set up.
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    pid_t sandbox = 0;
    while ((sandbox = PidFromFile("sandbox.pid")) <= 0 && Clock::now() < deadline) PauseBriefly();
    if (sandbox <= 0) return 0;
    const int netns = open(("/proc/" + std::to_string(sandbox) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    if (netns < 0) return 0;
    const pid_t pid = fork();
    if (pid == 0) {
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        if (setns(netns, CLONE_NEWNET) == 0) execv(argv[0].c_str(), ArgvOf(argv).data());
        _exit(127);
    }
    close(netns);
    if (pid > 0) besides_.push_back(pid);
    return pid > 0 ? pid : 0;
}

CommandResult RunCommand(const std::vector<std::string>& argv, int timeoutSeconds) {
    CommandResult result;
    int fds[2];
    if (pipe(fds) != 0) return result;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        execvp(argv[0].c_str(), ArgvOf(argv).data());
        _exit(127);
    }
    close(fds[1]);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    char buf[4096];
    for (;;) {
        ssize_t n = read(fds[0], buf, sizeof(buf));
        if (n > 0) {
            result.out.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n == 0 || Clock::now() > deadline) break;
        PauseBriefly();
    }
    close(fds[0]);
    result.status = WaitBounded(pid, 5);
    return result;
}

bool SandboxRun::Control(const std::string& line) { return WriteLineToFifo(ControlPath(), line); }

bool SandboxRun::RtcControl(const std::string& line) { return WriteLineToFifo(dir_ + "/rtc.control", line); }

bool SandboxRun::Type(const std::string& line) {
    const std::string text = line + "\n";
    return consoleFd_ >= 0 && write(consoleFd_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

const std::string& SandboxRun::ConsoleText() {
    char buf[4096];
    for (ssize_t n; consoleFd_ >= 0 && (n = read(consoleFd_, buf, sizeof buf)) > 0;) {
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\r') consoleText_ += buf[i];
        }
    }
    return consoleText_;
}

bool SandboxRun::WaitForConsole(const std::string& text, int timeoutSeconds, size_t skip) {
    auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    while (Clock::now() < deadline) {
        if (CountOf(ConsoleText(), text) > skip) return true;
        PauseBriefly();
    }
    return false;
}

void SandboxRun::CloseConsole() {
    if (consoleFd_ < 0) return;
    close(consoleFd_);
    consoleFd_ = -1;
}
