#include "subg/scheduler.h"

#include <syslog.h>

#include <cstring>
#include <ctime>

#include "platform/reset_line.h"
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
    if (NoSerCommCounter != kSilencesBeforeReset) {
        ++NoSerCommCounter;
        return;
    }
    NoSerCommCounter = 0;
    time_t last = LastSerCommTime;
    char text[32] = "never";
    if (last != 0 && ctime_r(&last, text)) text[strcspn(text, "\n")] = '\0';
    syslog(LOG_INFO, "No Serial since %s - Reseting serial port", text);
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

void NoDataWaitingOnSerial() {
    if (WhileInFWUpgrade && SubGBoardConnected) {
        SendTagFirmwareBlock();
    } else {
        if (SubGBoardConnected) ConnectedDuties();
        Run(Housekeeping.everySilence);
    }
    HandOnGatheredBytes();
}
