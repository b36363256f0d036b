#include "backbone/backbone_thread.h"

#include <syslog.h>

#include "platform/timing.h"
#include "tags/sub_msg_list.h"

std::atomic<uint8_t> RTCConnected{0};

namespace {
constexpr int kDrainPauseMicros = 1000000;
}

void* ZemloBackboneTh(void*) {
    // Until the RTC link exists the records are taken and counted, so that
    // the list never fills up.
    unsigned long taken = 0;
    unsigned long reported = 0;
    for (;;) {
        TimedSubGMsg record;
        while (TakeTagData(&record)) ++taken;
        if (taken != reported) {
            syslog(LOG_DEBUG, "ZemloBackboneTh: %lu tag records taken", taken);
            reported = taken;
        }
        MicroSecSleep(kDrainPauseMicros);
    }
    return nullptr;
}
