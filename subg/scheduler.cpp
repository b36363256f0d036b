#include "subg/scheduler.h"

#include "platform/log.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>

#include "platform/reset_line.h"
#include "platform/timing.h"
#include "subg/frame.h"
#include "subg/link_buffers.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "subg/serial_listener.h"
#include "subg/uart_faults.h"

std::atomic<uint8_t> SubGBoardConnected{0};
std::atomic<uint8_t> WhileInFWUpgrade{0};

namespace {

LinkHousekeeping Housekeeping{};  // set before the listener starts, read-only after

// The silence watchdog counts from the last byte, or from its own last
// reset of the board. Listener thread only.
long long SilenceWatchStart = 0;

long long SilentSince() { return std::max(LastSerialByteMicros, SilenceWatchStart); }

void Run(void (*duty)()) {
    if (duty) duty();
}

// While tag firmware goes out, only its blocks are written; anything else
// handed out stays awaited and goes out again later.
void SendTagFirmwareBlock() {
    T7734FrameRequest request;
    if (GetNextSubGBReq(&request) && SubGOp::IsTagFirmwareBlock(request.opcode)) {
        SendMsg(request);
        CheckMsgInQ();
    }
}

void SilenceWatchdog() {
    const long long now = MonotonicMicros();
    if (now - SilentSince() < kSilentLineResetMicros) return;
    SilenceWatchStart = now;
    time_t last = LastSerCommTime;
    char text[32] = "never";
    if (last != 0 && ctime_r(&last, text)) text[strcspn(text, "\n")] = '\0';
    LogLine(LOG_INFO, "No Serial since %s - Reseting serial port", text);
    IncUARTCommFault();
    ResetBoard();
}

void SendOneQueuedRequest() {
    T7734FrameRequest request;
    if (GetNextSubGBReq(&request)) SendMsg(request);
    CheckMsgInQ();
}

void ConnectedDuties() {
    SilenceWatchdog();
    Run(Housekeeping.whileConnected);
    SendOneQueuedRequest();
}

}  // namespace

void SetLinkHousekeeping(const LinkHousekeeping& housekeeping) { Housekeeping = housekeeping; }

void ResetBoard() {
    HWResetSubGBoard();
    SubGBoardConnected = 0;
}

void InitLinkDuties() { Run(Housekeeping.start); }

bool LinkDutiesPending() { return TxSlotHoldsFrame() || (SubGBoardConnected && PendingSubGRequests() > 0); }

void RestartSilenceWatchdog() { SilenceWatchStart = MonotonicMicros(); }

long long SilenceWatchdogDeadline() {
    return SubGBoardConnected ? SilentSince() + kSilentLineResetMicros : LLONG_MAX;
}

void NoDataWaitingOnSerial() {
    if (WhileInFWUpgrade && SubGBoardConnected) {
        SendTagFirmwareBlock();
    } else {
        if (SubGBoardConnected) ConnectedDuties();
        Run(Housekeeping.everySilence);
    }
    HandOnGatheredBytes();
}
