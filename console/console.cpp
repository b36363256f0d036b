#include "console/console.h"

#include "params/rf_settings.h"
#include "subg/timing.h"

void* CmdParseLineProc(void*) {
    WaitForSubGBoard();
    LoadAndSetRFSettings();
    // The menu arrives with the console.
    for (;;) MicroSecSleep(1000000);
    return nullptr;
}
