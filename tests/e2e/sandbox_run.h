// Drives the real daemon through the sandbox and the simulated board, and
// waits on the files they write (syslog, serial record) with generous bounds.
#pragma once

#include <sys/types.h>

#include <regex>
#include <string>
#include <vector>

struct SandboxOptions {
    int seconds = 60;
    std::vector<std::string> simArgs;
    std::vector<std::string> daemonArgs;
    // The RTC simulator runs beside the daemon when withRtc is set or it is
    // given arguments.
    bool withRtc = false;
    std::vector<std::string> rtcArgs = {};
    // The daemon's standard input, output and error are a pseudo-terminal
    // the test holds (Type, WaitForConsole).
    bool console = false;
    // Above 0: the daemon's working directory is a tmpfs this small.
    int workKb = 0;
};

class SandboxRun {
public:
    // A fresh scratch directory; reuse Dir() in a later run to keep files.
    SandboxRun();
    explicit SandboxRun(const std::string& dir);
    ~SandboxRun();
    SandboxRun(const SandboxRun&) = delete;
    SandboxRun& operator=(const SandboxRun&) = delete;

    void Start(const SandboxOptions& options);
    // The sandbox's exit status, or -1 if it did not end within the bound.
    int WaitForExit(int timeoutSeconds);
    void Stop();
    void KeepDirectory() { keepDir_ = true; }

    const std::string& Dir() const { return dir_; }
    std::string WorkDir() const { return dir_ + "/work"; }
    std::string SyslogPath() const { return dir_ + "/syslog.log"; }
    std::string SerialPath() const { return dir_ + "/serial.log"; }

    // Waits until a line of file matches, beyond the first `skip` matches.
    bool WaitForLine(const std::string& file, const std::string& pattern, int timeoutSeconds,
                     size_t skip = 0);
    std::vector<std::string> MatchingLines(const std::string& file, const std::string& pattern) const;
    // Sends one command line to the simulator's control FIFO (started with
    // the option ControlArgs() gives).
    bool Control(const std::string& line);
    std::vector<std::string> ControlArgs() const { return {"--control", ControlPath()}; }
    std::string ControlPath() const { return dir_ + "/sim.control"; }

    // The RTC simulator's lines (readable, or JSON with rtcArgs --json).
    std::string RtcLogPath() const { return dir_ + "/rtc.log"; }
    bool WaitForRtcLine(const std::string& pattern, int timeoutSeconds, size_t skip = 0) {
        return WaitForLine(RtcLogPath(), pattern, timeoutSeconds, skip);
    }
    // Sends one command line to the RTC simulator's control FIFO.
    bool RtcControl(const std::string& line);

    // The daemon's terminal: a line typed, what it has shown so far (line
    // ends without their carriage return), and its hang-up.
    bool Type(const std::string& line);
    // Waits until text has been shown more than skip times.
    bool WaitForConsole(const std::string& text, int timeoutSeconds, size_t skip = 0);
    const std::string& ConsoleText();
    void CloseConsole();

    // The pid the sandbox has written into its directory, 0 if none yet.
    pid_t PidFromFile(const std::string& name) const;

    // Runs argv in the sandbox's network namespace, beside the daemon (a
    // second RTC simulator); Stop ends it. Its pid, or 0 when the sandbox
    // did not come up within the bound.
    pid_t StartBeside(const std::vector<std::string>& argv);

private:
    std::string dir_;
    pid_t pid_ = 0;
    bool keepDir_ = false;
    int consoleFd_ = -1;
    std::vector<pid_t> besides_;
    std::string consoleText_;
};

// A request the simulated board received from the host.
struct SerialFrame {
    double t;
    int op;
    std::vector<int> data;
};
// The host's frames in the serial record, all or those with opcode op.
std::vector<SerialFrame> HostFrames(const SandboxRun& run, int op = -1);

// The median gap between consecutive frames: one late frame on a busy
// machine does not decide.
double MedianGap(const std::vector<SerialFrame>& frames);

std::string ReadFile(const std::string& path);

std::string BuildDir();
std::string DaemonPath();
// Seconds at the start of a record line ("12.345678 ...").
double LineTime(const std::string& line);

struct CommandResult {
    int status = -1;
    std::string out;
};
// Runs argv, capturing stdout and stderr together; bounded in time.
CommandResult RunCommand(const std::vector<std::string>& argv, int timeoutSeconds);
