#include "children.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace {

constexpr int kPollMillis = 10;
constexpr int kKilledWaitMillis = 5000;
constexpr int kMaxAdoptionRounds = 10;

// Bounding set, inheritable and ambient: then no exec can give it back.
bool DropSysTime() {
    if (prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0) != 0) return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    data[CAP_TO_INDEX(CAP_SYS_TIME)].inheritable &= ~CAP_TO_MASK(CAP_SYS_TIME);
    if (syscall(SYS_capset, &header, data) != 0) return false;
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, CAP_SYS_TIME, 0, 0);
    return true;
}

bool Redirect(int fd, int target) {
    if (fd < 0) return true;
    if (fd == target) return fcntl(fd, F_SETFD, 0) == 0;
    return dup2(fd, target) == target;
}

// Runs in the forked child; returns only on failure, with errno set.
void ExecChild(const ChildPlan& plan, char* const argv[], pid_t sandbox) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) return;
    if (getppid() != sandbox) _exit(1);
    if (!Redirect(plan.stdinFd, STDIN_FILENO) || !Redirect(plan.stdoutFd, STDOUT_FILENO) ||
        !Redirect(plan.stderrFd, STDERR_FILENO)) {
        return;
    }
    if (plan.passFd >= 0 && fcntl(plan.passFd, F_SETFD, 0) != 0) return;
    if (!plan.workDir.empty() && chdir(plan.workDir.c_str()) != 0) return;
    if (!DropSysTime()) return;
    execvp(argv[0], argv);
}

// The child reports a failed exec through a close-on-exec pipe; an exec that
// works closes the pipe with nothing written.
int ReadExecError(int fd) {
    int err = 0;
    ssize_t n;
    do {
        n = read(fd, &err, sizeof(err));
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof(err)) ? err : 0;
}

long ParentOf(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t commEnd = line.rfind(')');
    if (commEnd == std::string::npos || commEnd + 4 >= line.size()) return -1;
    // After "(comm) " come the state letter and the parent's pid.
    return std::strtol(line.c_str() + commEnd + 4, nullptr, 10);
}

std::vector<pid_t> OwnChildren() {
    std::vector<pid_t> children;
    DIR* proc = opendir("/proc");
    if (!proc) return children;
    long self = getpid();
    for (dirent* entry = readdir(proc); entry; entry = readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
        if (ParentOf(entry->d_name) == self) children.push_back(static_cast<pid_t>(std::atol(entry->d_name)));
    }
    closedir(proc);
    return children;
}

}  // namespace

pid_t SpawnChild(const ChildPlan& plan) {
    std::vector<char*> argv;
    for (const std::string& arg : plan.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    pid_t sandbox = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        ExecChild(plan, argv.data(), sandbox);
        int err = errno;
        ssize_t ignored = write(report[1], &err, sizeof(err));
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    int err = pid < 0 ? errno : ReadExecError(report[0]);
    close(report[0]);
    if (pid > 0 && err != 0) {
        int status;
        WaitForExit(pid, kKilledWaitMillis, &status);
    }
    if (pid < 0 || err != 0) throw std::runtime_error("cannot run " + plan.argv[0] + ": " + std::strerror(err));
    return pid;
}

bool WaitForExit(pid_t pid, int timeoutMillis, int* waitStatus) {
    for (int waited = 0;; waited += kPollMillis) {
        pid_t done = waitpid(pid, waitStatus, WNOHANG);
        if (done == pid) return true;
        if (done < 0 && errno != EINTR) return false;
        if (waited >= timeoutMillis) return false;
        usleep(kPollMillis * 1000);
    }
}

void TerminateChild(pid_t pid, int graceMillis) {
    int status;
    kill(pid, SIGTERM);
    if (!WaitForExit(pid, graceMillis, &status)) KillChild(pid);
}

void KillChild(pid_t pid) {
    int status;
    kill(pid, SIGKILL);
    WaitForExit(pid, kKilledWaitMillis, &status);
}

pid_t ReapOneChild(int* waitStatus) {
    siginfo_t info{};
    // Look first without reaping, so that the reaping itself names the pid.
    if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0) return 0;
    return waitpid(info.si_pid, waitStatus, 0) == info.si_pid ? info.si_pid : 0;
}

void KillAdoptedChildren() {
    // Killing one may hand its own children to the sandbox: a few rounds.
    for (int round = 0; round < kMaxAdoptionRounds; ++round) {
        std::vector<pid_t> children = OwnChildren();
        if (children.empty()) return;
        for (pid_t child : children) kill(child, SIGKILL);
        for (pid_t child : children) KillChild(child);
    }
}

int ShellStatus(int waitStatus) {
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return WEXITSTATUS(waitStatus);
}
