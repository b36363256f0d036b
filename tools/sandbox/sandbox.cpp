#include "sandbox.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "children.h"
#include "sys_error.h"

namespace {

constexpr int kSimGraceMillis = 2000;
// The daemon saves its outgoing queue on SIGTERM, as when procd stops it.
constexpr int kDaemonGraceMillis = 5000;
constexpr int kLastWordsMillis = 300;
constexpr int kMaxPollMillis = 1000;
constexpr int kMessagesPerRound = 256;
constexpr int kReapsPerRound = 64;
const char kGpioValue[] = "/sys/class/gpio/gpio109/value";

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof(cwd))) ThrowErrno("cannot read the current directory");
    return std::string(cwd) + "/" + path;
}

void MakeDirs(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) ThrowErrno("cannot create " + prefix);
        if (slash == std::string::npos) return;
    }
}

int CreateOutput(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) ThrowErrno("cannot create " + path);
    return fd;
}

// Through a rename, so that whoever waits for the file never reads half of it.
void WritePidFile(const std::string& path, pid_t pid) {
    std::string text = std::to_string(pid) + "\n";
    std::string temporary = path + ".tmp";
    int fd = CreateOutput(temporary);
    bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) ThrowErrno("cannot write " + path);
}

// Inside the namespace only lo is up: it has no route for the limited
// broadcast 255.255.255.255, but delivers its own subnet's broadcast to a
// reader bound to any address, from 127.0.0.1.
const char kRtcBroadcastTarget[] = "127.255.255.255";

std::string BesideSandbox(const char* program) {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0) ThrowErrno("cannot find the sandbox's own executable");
    std::string path(self, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1) + program;
}

// The daemon runs in DIR/work: a relative path must not be taken from there.
std::vector<std::string> DaemonArgv(std::vector<std::string> argv) {
    if (argv[0].find('/') != std::string::npos) argv[0] = AbsolutePath(argv[0]);
    return argv;
}

void CloseIfOpen(int fd) {
    if (fd >= 0) close(fd);
}

}  // namespace

Sandbox::Sandbox(const SandboxOptions& options) : options_(options), dir_(AbsolutePath(options.dir)) {
    if (!options_.noSim) {
        simPath_ = options_.sim.empty() ? BesideSandbox("tarnel-subgsim") : AbsolutePath(options_.sim);
        if (access(simPath_.c_str(), X_OK) != 0) {
            ThrowErrno("cannot run the simulator " + simPath_ + " (build it, or pass --sim PATH or --no-sim)");
        }
    }
    if (options_.withRtc || !options_.rtc.empty()) {
        rtcPath_ = options_.withRtc ? BesideSandbox("tarnel-rtcsim") : AbsolutePath(options_.rtc);
        if (access(rtcPath_.c_str(), X_OK) != 0) {
            ThrowErrno("cannot run the RTC simulator " + rtcPath_ + " (build it, or pass --rtc PATH)");
        }
    }
}

Sandbox::~Sandbox() {
    if (daemonPid_ > 0) KillChild(daemonPid_);
    if (simPid_ > 0) KillChild(simPid_);
    if (rtcPid_ > 0) KillChild(rtcPid_);
    for (int fd : {signalFd_, daemonOut_, daemonErr_, simOut_, rtcOut_, nullFd_, pty_.master, pty_.slave}) {
        CloseIfOpen(fd);
    }
}

int Sandbox::Run() {
    PrepareDir();
    BlockSignals();
    SetUpNamespaces();
    WritePidFile(Path("sandbox.pid"), getpid());
    // Orphans of the daemon come to the sandbox, which ends them at the end.
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) ThrowErrno("cannot become a subreaper");
    if (!options_.noSim) StartSimulator();
    if (!rtcPath_.empty()) StartRtcSimulator();
    StartDaemon();
    Supervise();
    return Finish();
}

void Sandbox::PrepareDir() {
    MakeDirs(dir_);
    // run/tarnel as the procd script makes /var/run/tarnel.
    for (const char* sub : {"work", "home", "run/tarnel", ".dev"}) MakeDirs(Path(sub));
    // A stale pid file would send a waiting test to a process long gone.
    for (const char* stale : {"sandbox.pid", "daemon.pid", "rtc.pid"}) unlink(Path(stale).c_str());
    close(CreateOutput(Path("serial.log")));
    daemonOut_ = CreateOutput(Path("daemon.out"));
    daemonErr_ = CreateOutput(Path("daemon.err"));
    simOut_ = CreateOutput(Path("sim.out"));
    if (!rtcPath_.empty()) {
        close(CreateOutput(Path("rtc.log")));
        rtcOut_ = CreateOutput(Path("rtc.out"));
    }
    nullFd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nullFd_ < 0) ThrowErrno("cannot open /dev/null");
    syslog_ = std::make_unique<SyslogSink>(Path("syslog.log"), options_.show);
}

void Sandbox::SetUpNamespaces() {
    EnterPrivateNamespaces();
    BringUpLoopback();
    pty_ = OpenPty();
    BuildDev(Path(".dev"), pty_.slaveName);
    syslog_->Bind("/dev/log");
    FakeGpio();
    BindHome(Path("home"));
    BindRun(Path("run"));
    if (options_.workKb > 0) MountSmallDir(Path("work"), options_.workKb);
}

// Blocked before any child exists, so that no SIGCHLD can be missed.
void Sandbox::BlockSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGCHLD, SIGUSR1}) sigaddset(&set, sig);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) ThrowErrno("cannot block signals");
    signalFd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd_ < 0) ThrowErrno("cannot create a signalfd");
}

void Sandbox::StartSimulator() {
    ChildPlan plan;
    plan.argv = {simPath_, "--master-fd", std::to_string(pty_.master), "--gpio-value", kGpioValue,
                 "--record", Path("serial.log")};
    if (options_.show) plan.argv.emplace_back("--verbose");
    plan.argv.insert(plan.argv.end(), options_.simArgs.begin(), options_.simArgs.end());
    plan.passFd = pty_.master;
    // The terminal's input is the daemon's console, not the simulator's.
    plan.stdinFd = nullFd_;
    if (!options_.show) plan.stdoutFd = plan.stderrFd = simOut_;
    simPid_ = SpawnChild(plan);
}

// Started before the daemon, so that its first listening window can
// already hear a broadcast. Its own arguments come last and win.
void Sandbox::StartRtcSimulator() {
    ChildPlan plan;
    plan.argv = {rtcPath_, "--broadcast-to", kRtcBroadcastTarget, "--out", Path("rtc.log"),
                 "--control", Path("rtc.control")};
    if (options_.show) {
        plan.argv.insert(plan.argv.end(), {"--label", "[rtc]"});
    } else {
        plan.argv.emplace_back("--quiet");
        plan.stdoutFd = plan.stderrFd = rtcOut_;
    }
    plan.argv.insert(plan.argv.end(), options_.rtcArgs.begin(), options_.rtcArgs.end());
    plan.stdinFd = nullFd_;
    rtcPid_ = SpawnChild(plan);
    WritePidFile(Path("rtc.pid"), rtcPid_);
}

void Sandbox::StartDaemon() {
    ChildPlan plan;
    plan.argv = DaemonArgv(options_.daemon);
    plan.workDir = Path("work");
    if (!options_.show && !options_.console) {
        plan.stdoutFd = daemonOut_;
        plan.stderrFd = daemonErr_;
    }
    daemonPid_ = SpawnChild(plan);
    daemonStart_ = Clock::now();
    WritePidFile(Path("daemon.pid"), daemonPid_);
}

void Sandbox::Supervise() {
    bool limited = options_.seconds > 0;
    Clock::time_point deadline = daemonStart_ + std::chrono::seconds(options_.seconds);
    while ((daemonPid_ > 0 || options_.respawn) && !stopRequested_) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (limited && left <= 0) return;
        int timeout = limited ? static_cast<int>(std::min<long long>(left, kMaxPollMillis)) : kMaxPollMillis;
        pollfd fds[] = {{signalFd_, POLLIN, 0}, {syslog_->Fd(), POLLIN, 0}};
        poll(fds, 2, timeout);
        syslog_->Drain(kMessagesPerRound);
        HandleSignals();
    }
}

void Sandbox::HandleSignals() {
    signalfd_siginfo info{};
    while (read(signalFd_, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
        if (info.ssi_signo == SIGCHLD) {
            ReapChildren();
        } else if (info.ssi_signo == SIGUSR1) {
            if (options_.respawn && daemonPid_ <= 0) StartDaemon();
        } else {
            stopRequested_ = true;
        }
    }
}

void Sandbox::ReapChildren() {
    for (int i = 0; i < kReapsPerRound; ++i) {
        int waitStatus = 0;
        pid_t pid = ReapOneChild(&waitStatus);
        if (pid <= 0) return;
        OnChildEnded(pid, waitStatus);
    }
}

void Sandbox::OnChildEnded(pid_t pid, int waitStatus) {
    if (pid == daemonPid_) {
        daemonWaitStatus_ = waitStatus;
        daemonPid_ = -1;
        // Tells whoever waits for a respawn that this daemon is gone for good.
        if (options_.respawn) unlink(Path("daemon.pid").c_str());
    } else if (pid == simPid_) {
        simPid_ = -1;
        std::fprintf(stderr, "sandbox: the simulator ended early with status %d\n", ShellStatus(waitStatus));
    } else if (pid == rtcPid_) {
        rtcPid_ = -1;
        std::fprintf(stderr, "sandbox: the RTC simulator ended early with status %d\n", ShellStatus(waitStatus));
    }
}

// Asked, not killed: the RTC simulator prints its counts as it ends.
void Sandbox::StopSimulators() {
    for (pid_t* pid : {&simPid_, &rtcPid_}) {
        if (*pid <= 0) continue;
        TerminateChild(*pid, kSimGraceMillis);
        *pid = -1;
    }
}

int Sandbox::Finish() {
    // A signal that came together with the daemon's end still means the
    // sandbox was told to stop it.
    bool stoppedBySandbox = stopRequested_ || daemonPid_ > 0 || options_.respawn;
    if (daemonPid_ > 0) {
        TerminateChild(daemonPid_, kDaemonGraceMillis);
        daemonPid_ = -1;
    }
    double ran = std::chrono::duration<double>(Clock::now() - daemonStart_).count();
    syslog_->DrainFor(kLastWordsMillis);
    StopSimulators();
    KillAdoptedChildren();
    if (stoppedBySandbox) {
        std::fprintf(stderr, "sandbox: daemon stopped after %.0f s\n", ran);
        return 0;
    }
    int status = ShellStatus(daemonWaitStatus_);
    std::fprintf(stderr, "sandbox: daemon exited with status %d\n", status);
    return status;
}
