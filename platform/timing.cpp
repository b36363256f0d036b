#include "platform/timing.h"

#include <sys/select.h>
#include "platform/log.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

long long ToMicros(const timeval& tv) { return static_cast<long long>(tv.tv_sec) * 1000000 + tv.tv_usec; }

timeval FromMicros(long long us) {
    timeval tv{};
    if (us < 0) us = 0;
    tv.tv_sec = static_cast<time_t>(us / 1000000);
    tv.tv_usec = static_cast<suseconds_t>(us % 1000000);
    return tv;
}

}  // namespace

long long MonotonicMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

long long MicrosToNextWallSecond() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return 1000000 - ts.tv_nsec / 1000;
}

int MicroSecSleep(int us) {
    timeval tv = FromMicros(us);
    return select(0, nullptr, nullptr, nullptr, &tv);
}

int WaitForData(int fd, timeval timeout) {
    if (fd < 0) {
        LogLine(LOG_ERR, "WaitForData: fd < 0 %d", fd);
        return 0;
    }
    const long long deadline = MonotonicMicros() + ToMicros(timeout);
    // select may come back early (a signal, or fd not among the ready ones):
    // wait again for the time that is left.
    for (;;) {
        long long left = deadline - MonotonicMicros();
        if (left <= 0) return 0;
        timeval tv = FromMicros(left);
        fd_set readSet;
        FD_ZERO(&readSet);
        if (fd > 0) FD_SET(fd, &readSet);
        int rc = select(fd > 0 ? fd + 1 : 0, fd > 0 ? &readSet : nullptr, nullptr, nullptr, &tv);
        if (rc < 0) {
            if (errno == EINTR) continue;
            LogLine(LOG_ERR, "WaitForData: Select returned %d (%s)", rc, strerror(errno));
            return 0;
        }
        if (rc == 0) return 0;
        if (fd > 0 && FD_ISSET(fd, &readSet)) return 1;
    }
}
