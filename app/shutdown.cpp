#include "app/shutdown.h"

#include <pthread.h>
#include <signal.h>
#include "platform/log.h"
#include <unistd.h>

#include <ctime>

#include "backbone/backbone_thread.h"

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    // The technician's terminal closing: a stop like any other, not the
    // default death that would lose the queue.
    sigaddset(&set, SIGHUP);
    return set;
}

[[noreturn]] void SaveAndExit(int sig) {
    LogLine(LOG_INFO, "StopOnSignalWithin: signal %d, saving the outgoing queue", sig);
    SaveQueueForExit();
    LogLine(LOG_INFO, "StopOnSignalWithin: stopped");
    closelog();
    // Straight out: the other threads still run, so static destructors must
    // not tear their state down under them.
    _exit(0);
}

}  // namespace

void PrepareStopSignals() {
    signal(SIGPIPE, SIG_IGN);
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void StopOnSignalWithin(int micros) {
    const sigset_t set = StopSignals();
    const timespec wait{micros / 1000000, (micros % 1000000) * 1000L};
    const int sig = sigtimedwait(&set, nullptr, &wait);
    if (sig > 0) SaveAndExit(sig);
}
