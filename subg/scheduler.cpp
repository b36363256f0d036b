#include "subg/scheduler.h"

#include <syslog.h>

#include <ctime>

#include "subg/frame.h"
#include "subg/link_buffers.h"
#include "subg/opcodes.h"
#include "subg/serial_listener.h"

std::atomic<uint8_t> SubGBoardConnected{0};

namespace {

constexpr time_t kKeepAliveSeconds = 5;  // a round runs once more than this has passed

time_t LastSWVersCollectTime = 0;  // 0: no round yet, the first goes out at once

bool KeepAliveDue(time_t now) {
    return LastSWVersCollectTime == 0 || now - LastSWVersCollectTime > kKeepAliveSeconds;
}

// Until the board answers, the version question goes straight to the slot:
// the request queue only hands out to a connected board.
void AskVersionDirectly() {
    syslog(LOG_DEBUG, "KeepAliveMessages: SubGboard not connected yet sending GetSWVers");
    SendMsg(MakeRequest(SubGOp::GetSWVersion));
    CheckMsgInQ();
}

}  // namespace

void InitLinkDuties() { LastSWVersCollectTime = 0; }

void NoDataWaitingOnSerial() {
    time_t now = time(nullptr);
    if (KeepAliveDue(now)) {
        if (!SubGBoardConnected) AskVersionDirectly();
        LastSWVersCollectTime = now;
    }
    HandOnGatheredBytes();
}
