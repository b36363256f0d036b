#include "app/startup.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include "platform/log.h"
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/log_limits.h"
#include "app/md5sum.h"
#include "app/options.h"
#include "app/shutdown.h"
#include "app/status_file.h"
#include "app/reply_table.h"
#include "backbone/backbone_thread.h"
#include "backbone/reader_reports.h"
#include "console/console.h"
#include "params/program_version.h"
#include "platform/host_probes.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/reset_line.h"
#include "platform/timing.h"
#include "subg/display_setting.h"
#include "subg/scheduler.h"
#include "subg/serial_listener.h"
#include "subg/serial_parser.h"
#include "subgconfig/housekeeping.h"
#include "subgconfig/mems_params.h"
#include "subgconfig/versions.h"
#include "tags/csv_log_limit.h"
#include "tags/csv_logs.h"
#include "upgrade/upgrade.h"

namespace {

constexpr size_t kThreadGuardBytes = 150;
constexpr int kListenerPriority = 99;
constexpr int kParserPriority = 90;
constexpr int kHostProbePauseMicros = 500000;
constexpr int kAfterResetMicros = 1000000;
constexpr long long kCsvLogCheckMicros = 60LL * 1000000;

// Held open, and so locked, for the life of the process.
int LockFd = -1;

// Every file of the daemon but the logs is named relative to the working
// directory, so it is entered before the lock is taken.
bool EnterWorkDir(const std::string& dir) {
    if (dir.empty() || chdir(dir.c_str()) == 0) return true;
    const char* why = strerror(errno);
    fprintf(stderr, "\nFailed to enter the working directory (%s): %s\n\n", dir.c_str(), why);
    LogLine(LOG_ERR, "RunTarnel: failed to enter the working directory %s (%s)", dir.c_str(), why);
    return false;
}

// False when the lock file cannot be opened or another instance holds it.
bool TakeInstanceLock() {
    LockFd = open(kLockFilePath, O_CREAT | O_NONBLOCK | O_RDONLY, 0644);
    if (LockFd < 0) {
        fprintf(stderr, "\nFailed to open lock file (%s),\nApplication aborted!!!\n\n", kLockFilePath);
        LogLine(LOG_ERR, "Failed to open lock file (%s), Application aborted!!!", kLockFilePath);
        return false;
    }
    if (flock(LockFd, LOCK_EX | LOCK_NB) != 0) {
        fprintf(stderr, "\nFailed to lock file (%s), another instance is already running\n Application aborted!!!\n\n",
                kLockFilePath);
        LogLine(LOG_ERR, "Failed to lock file (%s), another instance is already running\n Application aborted!!!",
               kLockFilePath);
        return false;
    }
    return true;
}

// Real-time threads ask for their policy explicitly; where the process may
// not use it, the thread starts with default attributes instead of not at all.
void StartThread(void* (*entry)(void*), void* arg, int fifoPriority) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setguardsize(&attr, kThreadGuardBytes);
    if (fifoPriority > 0) {
        sched_param param{};
        param.sched_priority = fifoPriority;
        pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
        pthread_attr_setschedpolicy(&attr, SCHED_FIFO);
        pthread_attr_setschedparam(&attr, &param);
    }
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, entry, arg);
    if (rc != 0 && fifoPriority > 0) {
        LogLine(LOG_INFO, "StartThread: no real-time priority %d (%s), using the default", fifoPriority, strerror(rc));
        pthread_attr_setinheritsched(&attr, PTHREAD_INHERIT_SCHED);
        rc = pthread_create(&thread, &attr, entry, arg);
    }
    if (rc != 0) LogLine(LOG_ERR, "StartThread: pthread_create failed (%s)", strerror(rc));
    pthread_attr_destroy(&attr);
}

// The limit of the CSV logs, chosen once the log directory is, and said.
long long ChooseCsvLogLimit(const TarnelOptions& options) {
    const unsigned megabytes = CsvLogLimitMb(options, LogDirIsInRam());
    LogLine(LOG_INFO, "RunTarnel: the CSV logs in %s are kept within %u MB", LogDir, megabytes);
    return megabytes * kBytesPerMegabyte;
}

// The main thread's work once the others run, at normal priority: the
// probes the LED word needs, the verbose flag file, the MEMS parameter file,
// the board's version file and, at once and then a minute apart, the CSV
// logs' limit, so that the serial threads never touch the storage; the
// counts of held-back log lines as their minute ends; the status file; and
// a planned stop.
[[noreturn]] void RunHostProbes(long long csvLogLimit, StatusFileWriter* status) {
    TestIsReader20();
    RefreshHostReadings();
    long long nextCsvLogCheck = MonotonicMicros();
    for (;;) {
        RefreshDisplaySetting();
        if (TakeHostReadingsRequest()) RefreshHostReadings();
        RefreshMEMSParamFile();
        SaveSubGBoardAppVersToFile();
        FlushHeldLogLines();
        status->Pass(MonotonicMicros());
        if (MonotonicMicros() >= nextCsvLogCheck) {
            KeepCsvLogsWithin(LogDir, csvLogLimit);
            nextCsvLogCheck = MonotonicMicros() + kCsvLogCheckMicros;
        }
        StopOnSignalWithin(kHostProbePauseMicros);
    }
}

}  // namespace

int RunTarnel(int argc, char* argv[]) {
    const long long startMicros = MonotonicMicros();
    // Before the lock: asking for the usage, the version or the status, or
    // mistyping an option, touches neither the working directory nor the
    // board.
    TarnelOptions options;
    switch (ParseOptions(argc, argv, &options)) {
        case OptionsVerdict::Run:
            break;
        case OptionsVerdict::Help:
            fputs(kUsage, stdout);
            return 0;
        case OptionsVerdict::Version:
            printf("Tarnel version %s\n", kTarnelVersionText);
            return 0;
        case OptionsVerdict::Status:
            return PrintStatusFile(options.statusFile.c_str(), stdout, stderr);
        case OptionsVerdict::Refused:
            fputs(kUsage, stderr);
            return -1;
    }

    openlog(kSyslogIdent, LOG_PID | LOG_CONS | LOG_NDELAY, LOG_USER);
    LimitLogTexts(kRateLimitedLogTexts, kRateLimitedLogTextCount);
    if (!EnterWorkDir(options.workDir)) return -1;
    if (!TakeInstanceLock()) return 0;
    ApplyOptions(options, getenv("PRINT_READ"));

    LogLine(LOG_DEBUG, "Application started!!!");
    CalcMD5(argv[0]);
    SetProgramChecksum(TarnelChkSum.High, TarnelChkSum.Low);
    HWResetSubGBoard();
    MicroSecSleep(kAfterResetMicros);

    // Wired before any thread runs, so that none of them sees a half-built
    // table or an unset log directory.
    SetReplyDispatch(BoardReplyDispatch());
    SetLinkHousekeeping({StartHousekeeping, ConnectedHousekeeping, KeepAliveRound});
    SetRtcLinkProbe([] { return RTCConnected != 0; });
    ChooseLogDir(options.logDir.c_str());
    const long long csvLogLimit = ChooseCsvLogLimit(options);
    OpenParserLogs();

    PrepareStopSignals();
    StartThread(SerialListener, nullptr, kListenerPriority);
    StartThread(SerialParser, nullptr, kParserPriority);
    StartThread(CmdParseLineProc, nullptr, 0);
    StartThread(ZemloBackboneTh, &BackboneStartSettings, 0);
    StartThread(SubGUpgradeTh, nullptr, 0);

    StatusFileWriter status(options.statusFile, startMicros);
    RunHostProbes(csvLogLimit, &status);
}
