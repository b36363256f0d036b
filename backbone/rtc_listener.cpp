#include "backbone/rtc_listener.h"

#include "platform/log.h"

#include "platform/heartbeat.h"
#include "backbone/backbone_iface.h"
#include "platform/timing.h"

namespace {
constexpr int kNoConnectionPauseMicros = 50000;
}

void RTCListenerLoop::Dispatch(void* self, uint32_t number, const uint8_t* message, uint32_t length) {
    const RTCHandler handler = FindRTCHandler(number);
    if (handler) handler(static_cast<RTCListenerLoop*>(self)->context_, message, length);
}

void RTCListenerLoop::Pass() {
    Heartbeat(&passes_, kRTCListenerHeartbeatPasses, "RTCListener is alive!!!");
    BackBoneIface& link = *context_.link;
    // This thread alone closes the socket, and only here, where it is not
    // waiting on it.
    link.CloseDroppedSocket();
    switch (link.GetRTCCommState()) {
        case RTC_IDLE:
            stream_.Reset();
            MicroSecSleep(kNoConnectionPauseMicros);
            return;
        case RTC_DISCOVERED:
            // Whatever was left of the last connection's stream is not the
            // start of the next one.
            stream_.Reset();
            if (link.OpenRTCClientSocket() < 0) {
                MicroSecSleep(kNoConnectionPauseMicros);
                return;
            }
            break;
        default:
            break;
    }
    const int received = link.ReadRTCData(reinterpret_cast<char*>(buffer_), sizeof buffer_);
    if (received <= 0) return;
    switch (stream_.Feed(buffer_, static_cast<size_t>(received), Dispatch, this)) {
        case EnvelopeStream::Status::kOk:
            return;
        case EnvelopeStream::Status::kInvalidHeader:
            LogLine(LOG_ERR, "RTCListener: invalid envelope header, dropping the connection");
            break;
        case EnvelopeStream::Status::kOversize:
            LogLine(LOG_ERR, "RTCListener: a message longer than %u bytes, dropping the connection",
                   EnvelopeStream::kMaxMessageBytes);
            break;
    }
    // The stream has no markers to find the next envelope by.
    link.SetRTCCommState(RTC_IDLE);
}

void* RTCListener(void* arg) {
    const auto* context = static_cast<const RTCHandlerContext*>(arg);
    if (context == nullptr || context->link == nullptr) return nullptr;
    LogLine(LOG_DEBUG, "RTCListener Started!!!");
    RTCListenerLoop loop(*context);
    for (;;) loop.Pass();
    return nullptr;
}
