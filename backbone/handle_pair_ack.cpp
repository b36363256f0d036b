#include "platform/log.h"

#include <exception>

#include "RtcPairingACK.pb.h"
#include "backbone/backbone_iface.h"
#include "backbone/rtc_handlers.h"

void HandlePairAck(const RTCHandlerContext& context, const uint8_t* message, uint32_t length) {
    LogLine(LOG_DEBUG, "RTCListener: Received RTCPAIRACK");
    try {
        RtcPairingACK ack;
        // Whatever parsed is used: the pairing completes regardless.
        ack.ParseFromArray(message, static_cast<int>(length));
        if (ack.has_keep_alive_interval_seconds() && context.setKeepAliveInterval)
            context.setKeepAliveInterval(KeepAliveWithinBounds(ack.keep_alive_interval_seconds(), "RTCListener"));
        // An RTC that names its protocol version does without our
        // acknowledgements.
        NeedToSendACK = !ack.has_protocolversion();
        if (ack.has_rtc_timestamp())
            ApplyRTCTime(context, ack.rtc_timestamp());
        else
            LogLine(LOG_INFO, "RTCListener: pairing acknowledgement without a time, clock left as it is");
        context.link->SetPaired(true);
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "RTCListener: (Pair ACK) caught an exception (%s)", e.what());
    }
}
