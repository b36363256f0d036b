#include "console/console.h"

#include <pthread.h>
#include <unistd.h>

#include "params/rf_settings.h"
#include "platform/timing.h"

namespace {
constexpr int kIdleMicros = 1000000;
}

// Without a terminal there is nobody to type commands: the thread ends
// once the start-up procedure is done.
void* CmdParseLineProc(void*) {
    WaitForSubGBoard();
    LoadAndSetRFSettings();
    if (!isatty(STDIN_FILENO)) {
        pthread_detach(pthread_self());
        return nullptr;
    }
    // The menu arrives with the console.
    for (;;) MicroSecSleep(kIdleMicros);
    return nullptr;
}
