#include "params/rf_settings.h"

#include <syslog.h>

#include "params/working_params.h"
#include "subg/scheduler.h"
#include "subg/timing.h"

std::atomic<uint8_t> ReadyForRTC{0};

namespace {
constexpr int kConnectPollMicros = 5000;
}

void WaitForSubGBoard() {
    while (!SubGBoardConnected) MicroSecSleep(kConnectPollMicros);
}

void LoadAndSetRFSettings() {
    WaitForSubGBoard();
    LoadParams();
    ReadyForRTC = 1;
    syslog(LOG_INFO, "LoadAndSetRFSettings: ready for the RTC");
}
