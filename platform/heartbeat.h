// The "is alive" line of a long-running loop: logged each time its pass
// counter reaches the loop's limit, then counting starts again.
#pragma once

#include "platform/log.h"

constexpr int kSerialHeartbeatPasses = 0xFFFF;

inline void Heartbeat(int* passes, int limit, const char* aliveText) {
    if (*passes == limit) {
        *passes = 0;
        LogLine(LOG_DEBUG, "%s", aliveText);
    } else {
        ++*passes;
    }
}
