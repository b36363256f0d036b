// The RTCListener thread: connects to a discovered RTC, reads its stream
// and hands each envelope to its handler.
#pragma once

#include <cstdint>

#include "backbone/envelope_stream.h"
#include "backbone/rtc_handlers.h"

constexpr int kRTCListenerHeartbeatPasses = 0xFFFFFF;
constexpr int kRTCReadBytes = 1024;

// The thread's work, one pass at a time.
class RTCListenerLoop {
public:
    // context.link must be set; the context is copied.
    explicit RTCListenerLoop(const RTCHandlerContext& context) : context_(context) {}

    // Closes a dropped socket, connects when an RTC is listed, else reads
    // once (waiting up to the read time-out) and handles every complete
    // envelope. A stream that cannot be cut into envelopes drops the link.
    void Pass();

private:
    static void Dispatch(void* self, uint32_t number, const uint8_t* message, uint32_t length);

    RTCHandlerContext context_;
    EnvelopeStream stream_{HandlesRTCEnvelope};
    int passes_ = 0;
    uint8_t buffer_[kRTCReadBytes] = {};
};

// Thread entry. context points to an RTCHandlerContext that lives as long
// as the process, with its link set (the backbone thread fills it). Returns
// at once when either is null; otherwise never.
void* RTCListener(void* context);
