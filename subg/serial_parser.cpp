#include "subg/serial_parser.h"

#include "subg/timing.h"

void* SerialParser(void*) {
    // Frame cutting and dispatch arrive with the reply handlers.
    for (;;) MicroSecSleep(1000000);
    return nullptr;
}
