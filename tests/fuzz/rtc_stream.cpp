// The RTC's TCP stream as the listener walks it: reads of any size, cut
// into envelopes, each handed to its handler.
#include <algorithm>

#include "backbone/envelope_stream.h"
#include "rtc_context.h"

namespace {

constexpr size_t kReadSizeBytes = 4;

void Dispatch(void* context, uint32_t number, const uint8_t* message, uint32_t length) {
    if (RTCHandler handler = FindRTCHandler(number)) handler(*static_cast<const RTCHandlerContext*>(context), message, length);
}

}  // namespace

// The first four bytes are the sizes of the reads, in turn (0: the rest at
// once); the stream follows.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size <= kReadSizeBytes) return 0;
    const RTCHandlerContext& context = FuzzRTCContext();
    const uint8_t* readSizes = data;
    EnvelopeStream stream(HandlesRTCEnvelope);
    size_t at = kReadSizeBytes;
    for (size_t read = 0; at < size; ++read) {
        const uint8_t wanted = readSizes[read % kReadSizeBytes];
        const size_t n = wanted == 0 ? size - at : std::min<size_t>(wanted, size - at);
        const EnvelopeStream::Status status =
            stream.Feed(data + at, n, Dispatch, const_cast<RTCHandlerContext*>(&context));
        if (status != EnvelopeStream::Status::kOk) break;  // the listener drops the link
        at += n;
    }
    ForgetRTCRun();
    return 0;
}
