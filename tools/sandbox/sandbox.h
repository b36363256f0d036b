// One run: sets the private world up, starts the simulators and the daemon in
// it, records the daemon's syslog, and ends everything it started.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>

#include "namespace_setup.h"
#include "options.h"
#include "syslog_sink.h"

class Sandbox {
public:
    // Throws std::runtime_error when the run cannot be set up.
    explicit Sandbox(const SandboxOptions& options);
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    // The exit status the sandbox reports.
    int Run();

private:
    using Clock = std::chrono::steady_clock;

    std::string Path(const char* name) const { return dir_ + "/" + name; }
    void PrepareDir();
    void SetUpNamespaces();
    void BlockSignals();
    void StartSimulator();
    void StartRtcSimulator();
    void StartDaemon();
    void Supervise();
    void HandleSignals();
    void ReapChildren();
    void OnChildEnded(pid_t pid, int waitStatus);
    void StopSimulators();
    int Finish();

    SandboxOptions options_;
    std::string dir_;
    std::string simPath_;
    std::string rtcPath_;
    std::unique_ptr<SyslogSink> syslog_;
    Pty pty_;
    int signalFd_ = -1;
    int daemonOut_ = -1;
    int daemonErr_ = -1;
    int simOut_ = -1;
    int rtcOut_ = -1;
    int nullFd_ = -1;
    pid_t simPid_ = -1;
    pid_t rtcPid_ = -1;
    pid_t daemonPid_ = -1;
    int daemonWaitStatus_ = 0;
    bool stopRequested_ = false;
    Clock::time_point daemonStart_;
};
