// Each RTC message handler alone on any message bytes, and the discovery
// datagram any host on the network may broadcast.
#include <cstddef>

#include "backbone/discovery.h"
#include "backbone/envelope.h"
#include "rtc_context.h"

namespace {

// Every envelope number a handler is found for.
constexpr uint32_t kHandledNumbers[] = {RTCPAIRACK, RTCPERSISTACK, RTCSETREADERPARAM, RTCSETTAGPARAM,
                                        RTCCOMMAND_FIELDNUM, RTCCLOCKSYNC};
constexpr size_t kHandlers = sizeof kHandledNumbers / sizeof kHandledNumbers[0];

}  // namespace

// The first byte chooses a handler, or the discovery datagram; the message
// follows.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t choice = data[0] % (kHandlers + 1);
    if (choice == kHandlers) {
        uint16_t port = 0;
        ParseDiscoveryDatagram(data + 1, static_cast<int>(size - 1), &port);
        return 0;
    }
    const RTCHandler handler = FindRTCHandler(kHandledNumbers[choice]);
    if (handler == nullptr) __builtin_trap();  // the table lost a handler
    handler(FuzzRTCContext(), data + 1, static_cast<uint32_t>(size - 1));
    ForgetRTCRun();
    return 0;
}
