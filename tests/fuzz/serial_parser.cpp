// The serial line as the parser takes it: the board's bytes handed on in
// chunks, as the listener's silences cut them, then checked and dispatched
// to the real reply handlers.
#include <pthread.h>

#include <algorithm>

#include "app/reply_table.h"
#include "fuzz_support.h"
#include "subg/link_buffers.h"
#include "subg/serial_parser.h"
#include "tags/sub_msg_list.h"

namespace {

void Deliver(const uint8_t* chunk, size_t n) {
    pthread_mutex_lock(&TxMutex);
    PutMsgInQ(chunk, static_cast<int>(n));
    ParseInboundQueue();
    pthread_mutex_unlock(&TxMutex);
    FinishParserPass();
}

// A frame cut short by the end of one run must not join the next run's.
void ForgetRun() {
    pthread_mutex_lock(&TxMutex);
    LowerInboundCount(InboundUnconsumed());
    RewindInbound();
    pthread_mutex_unlock(&TxMutex);
    TimedSubGMsg record;
    while (TakeTagData(&record) == 1) {
    }
    DrainSubGRequests();
}

}  // namespace

// The first byte is the chunk size (0: all in one chunk), the rest the line.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        EnterFuzzDir();
        OpenActivityLogNowhere();
        SetReplyDispatch(BoardReplyDispatch());
        return true;
    }();
    (void)ready;
    if (size < 2) return 0;
    const size_t chunk = data[0] == 0 ? size : data[0];
    for (size_t at = 1; at < size; at += chunk) Deliver(data + at, std::min(chunk, size - at));
    ForgetRun();
    return 0;
}
