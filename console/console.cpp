#include "console/console.h"

#include "subg/timing.h"

void* CmdParseLineProc(void*) {
    // The start-up procedure and the menu arrive with the parameter store.
    for (;;) MicroSecSleep(1000000);
    return nullptr;
}
