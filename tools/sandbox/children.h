// Starting, waiting for and ending the processes the sandbox runs. Every
// wait and kill names a pid the sandbox started or was handed as a subreaper.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct ChildPlan {
    std::vector<std::string> argv;  // argv[0] is run through PATH if it has no '/'
    std::string workDir;            // empty: the sandbox's own
    int stdinFd = -1;               // -1: the sandbox's own
    int stdoutFd = -1;
    int stderrFd = -1;
    int passFd = -1;  // kept open across exec; every other descriptor is close-on-exec
};

// Forks and execs; throws std::runtime_error if the program cannot be run.
// The child dies with the sandbox and can never set the clock.
pid_t SpawnChild(const ChildPlan& plan);

// Waits up to timeoutMillis; true with the wait status once pid has ended.
bool WaitForExit(pid_t pid, int timeoutMillis, int* waitStatus);

// SIGTERM, then SIGKILL if it is still there after graceMillis.
void TerminateChild(pid_t pid, int graceMillis);
void KillChild(pid_t pid);

// Reaps one child that has ended, if any; returns its pid, or 0.
pid_t ReapOneChild(int* waitStatus);

// Ends the descendants handed to the sandbox as a subreaper when their own
// parents died before them.
void KillAdoptedChildren();

// Exit code, or 128 + signal number, as a shell reports it.
int ShellStatus(int waitStatus);
