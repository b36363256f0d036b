#include "backbone/backbone_thread.h"

#include "subg/timing.h"

std::atomic<uint8_t> RTCConnected{0};

void* ZemloBackboneTh(void*) {
    // The RTC link arrives with the backbone.
    for (;;) MicroSecSleep(1000000);
    return nullptr;
}
