// The work of one tag message on the parser thread: decoding, dating, the
// hand-over to SubMsgList and the activity rows, flushed to files in a
// scratch log directory. The LED word goes to /dev/null.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/reply_table.h"
#include "platform/paths.h"
#include "subg/frame.h"
#include "subg/link_buffers.h"
#include "subg/opcodes.h"
#include "subg/serial_parser.h"
#include "subg/serial_listener.h"
#include "tags/csv_logs.h"
#include "tags/sub_msg_list.h"
#include "tags/tag_decode.h"
#include "tags/tag_messages.h"

namespace {

constexpr int kReports = 4;

// A tag's usual message: a few activity reports, one per interval.
T7734FrameReply TypicalTagFrame() {
    std::vector<uint8_t> p = {0, static_cast<uint8_t>(9 + kReports * 9), 2, 0x04, 0x03, 0x02, 0x01, 42, 3, kReports, 0};
    for (int i = 0; i < kReports; ++i) {
        p.push_back(SubMsgType::Activity);
        const uint8_t body[] = {static_cast<uint8_t>(100 + i), 0x34, 0x12, 0x58, 0x02, 2, 30, 3};
        p.insert(p.end(), body, body + sizeof(body));
    }
    p.push_back(0x10);
    return MakeReply(SubGOp::TagMessage, p.data(), p.size());
}

void BM_DecodeTagMessage(benchmark::State& state) {
    T7734FrameReply frame = TypicalTagFrame();
    auto msg = std::make_unique<TagMessage>();
    timeval now;
    gettimeofday(&now, nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeTagMessage(frame.data, frame.length - kFrameOverhead, now, msg.get()));
    }
}
BENCHMARK(BM_DecodeTagMessage);

void BM_TagMessagePath(benchmark::State& state) {
    char dir[] = "/tmp/tbXXXXXX";
    static_assert(sizeof(dir) <= sizeof(LogDir), "the scratch directory fits LogDir");
    if (!mkdtemp(dir)) {
        state.SkipWithError("no scratch log directory");
        return;
    }
    std::strcpy(LogDir, dir);
    OpenParserLogs();
    SerialFd = open("/dev/null", O_WRONLY);
    T7734FrameReply frame = TypicalTagFrame();
    TimedSubGMsg record;
    SetReplyDispatch(BoardReplyDispatch());
    for (auto _ : state) {
        pthread_mutex_lock(&TxMutex);
        int rc = ParseTagMsg(frame);
        pthread_mutex_unlock(&TxMutex);
        FinishParserPass();
        benchmark::DoNotOptimize(rc);
        while (TakeTagData(&record)) benchmark::DoNotOptimize(record);
    }
    state.SetItemsProcessed(state.iterations());
    close(SerialFd);
    std::system((std::string("rm -rf ") + dir).c_str());
}
BENCHMARK(BM_TagMessagePath);

}  // namespace

BENCHMARK_MAIN();
