// Each RTC message handler alone, on any message bytes.
#include <cstddef>

#include "backbone/envelope.h"
#include "rtc_context.h"

namespace {

// Every envelope number a handler is found for.
constexpr uint32_t kHandledNumbers[] = {RTCPAIRACK, RTCPERSISTACK, RTCSETREADERPARAM, RTCSETTAGPARAM,
                                        RTCCOMMAND_FIELDNUM, RTCCLOCKSYNC};

}  // namespace

// The first byte chooses the handler; the message follows.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint32_t number = kHandledNumbers[data[0] % (sizeof kHandledNumbers / sizeof kHandledNumbers[0])];
    const RTCHandler handler = FindRTCHandler(number);
    if (handler == nullptr) __builtin_trap();  // the table lost a handler
    handler(FuzzRTCContext(), data + 1, static_cast<uint32_t>(size - 1));
    ForgetRTCRun();
    return 0;
}
