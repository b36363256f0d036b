#include "rtc_context.h"

#include "RtcSetReaderParameters.pb.h"
#include "backbone/backbone_iface.h"
#include "backbone/msg_queue.h"
#include "backbone/rtc_command.h"
#include "fuzz_support.h"
#include "params/build_time.h"

namespace {

BackBoneIface& Link() {
    static BackBoneIface link;
    return link;
}

void SetKeepAlive(int seconds) { Link().SetKeepAliveInterval(seconds); }
void ApplyReaderParams(const RtcSetReaderParameters& params) { Link().ParseReaderParams(params); }
void ApplyTagParams(const RFTagParametersInformation& params) { Link().ParseTagParams(params); }
// The host's clock is not the fuzzer's to change.
int KeepClock(const timeval&) { return 0; }

}  // namespace

const RTCHandlerContext& FuzzRTCContext() {
    static const RTCHandlerContext context = [] {
        EnterFuzzDir();
        RTCHandlerContext c{};
        c.link = &Link();
        c.setKeepAliveInterval = SetKeepAlive;
        c.updateDataTime = UpdateDataTime;
        c.queueAck = AddAckWaiting;
        c.setClock = KeepClock;
        c.applyReaderParams = ApplyReaderParams;
        c.applyTagParams = ApplyTagParams;
        c.handleCommand = HandleRtcCommand;
        c.clockFloorSeconds = kBuildEpochSeconds;
        return c;
    }();
    Link().SetRTCCommState(RTC_CONNECTED);
    return context;
}

void ForgetRTCRun() {
    TakeAckWaiting();
    DrainSubGRequests();
}
