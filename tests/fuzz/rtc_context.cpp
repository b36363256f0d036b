#include "rtc_context.h"

#include "backbone/backbone_iface.h"
#include "backbone/msg_queue.h"
#include "fuzz_support.h"

namespace {

BackBoneIface& Link() {
    static OutgoingQueue queue;
    static BackBoneIface link(queue);
    return link;
}

// The host's clock is not the fuzzer's to change.
int KeepClock(const timeval&) { return 0; }

}  // namespace

const RTCHandlerContext& FuzzRTCContext() {
    static const RTCHandlerContext context = [] {
        EnterFuzzDir();
        return MakeRTCHandlerContext(Link(), KeepClock);
    }();
    Link().SetRTCCommState(RTC_CONNECTED);
    return context;
}

void ForgetRTCRun() {
    Link().Queue().TakeAckWaiting();
    DrainSubGRequests();
}
