#include "backbone/backbone_thread.h"

#include "subg/timing.h"

void* ZemloBackboneTh(void*) {
    // The RTC link arrives with the backbone.
    for (;;) MicroSecSleep(1000000);
    return nullptr;
}
