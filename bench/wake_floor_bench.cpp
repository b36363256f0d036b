// What the kernel alone charges the reader for one tag message on this
// machine: the listener woken by the board's frame on a pty, the parser
// woken to answer it with the LED word, the listener woken again by the
// board's acknowledgement. No decoding and no logs: the daemon's CPU per
// message in the load run is this floor plus the work that tag_path_bench
// measures. The board side runs in the benchmark's own thread and is not
// counted; messages come at the load runs' rates (the argument, messages a
// second), since the cost of a wake-up depends on how long the processor
// has slept.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/serial_port.h"
#include "platform/wake_signal.h"
#include "subg/frame.h"
#include "subg/opcodes.h"

namespace {

constexpr int kBoardWaitMillis = 100;

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Wire {
    uint8_t bytes[kMaxFrameLen];
    size_t length;
};

Wire Reply(uint8_t opcode, size_t dataLen) {
    const uint8_t data[40] = {2};
    Wire wire{};
    wire.length = ReplyToWire(MakeReply(opcode, data, dataLen), wire.bytes, sizeof(wire.bytes));
    return wire;
}

// The reader's two serial threads cut down to their system calls.
struct ReaderFloor {
    int port = -1;
    int stopFd = eventfd(0, EFD_CLOEXEC);
    WakeSignal chunk;
    std::atomic<bool> stopping{false};
    double listenerCpu = 0;
    double parserCpu = 0;

    void Listen() {
        uint8_t buffer[4096];
        for (;;) {
            pollfd fds[2] = {{port, POLLIN, 0}, {stopFd, POLLIN, 0}};
            if (ppoll(fds, 2, nullptr, nullptr) <= 0 || fds[1].revents != 0) break;
            const ssize_t n = read(port, buffer, sizeof(buffer));
            if (n > 0 && !WholeReplyFrames(buffer, static_cast<size_t>(n), SubGOp::LedWord)) chunk.Raise();
        }
        listenerCpu = ThreadCpuSeconds();
    }

    void Parse() {
        const T7734FrameRequest led = MakeRequest(SubGOp::LedWord, &kLedWord, 1);
        uint8_t wire[kMaxFrameLen];
        const size_t length = RequestToWire(led, wire, sizeof(wire));
        while (!stopping) {
            if (chunk.WaitFor(1000000) && write(port, wire, length) < 0) break;
        }
        parserCpu = ThreadCpuSeconds();
    }

    static constexpr uint8_t kLedWord = 0x90;
};

void NextPeriod(timespec* at, long periodNanos) {
    at->tv_nsec += periodNanos;
    if (at->tv_nsec >= 1000000000L) {
        at->tv_nsec -= 1000000000L;
        ++at->tv_sec;
    }
}

void BM_WakeUpFloorPerTagMessage(benchmark::State& state) {
    const int board = posix_openpt(O_RDWR | O_NOCTTY);
    if (board < 0 || grantpt(board) != 0 || unlockpt(board) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    ReaderFloor reader;
    // The reader's side opened and set up as the daemon does its port.
    reader.port = OpenSerialPortQuietly(ptsname(board));
    if (reader.port < 0) {
        state.SkipWithError("the pseudo-terminal's reader side did not open");
        close(board);
        return;
    }
    ConfigurePort(reader.port);
    std::thread listener(&ReaderFloor::Listen, &reader);
    std::thread parser(&ReaderFloor::Parse, &reader);

    const Wire tag = Reply(SubGOp::TagMessage, 40);
    const Wire ack = Reply(SubGOp::LedWord, 1);
    const long periodNanos = 1000000000L / state.range(0);
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    int unanswered = 0;  // frames the LED word never followed: the run measured less than it claims
    for (auto _ : state) {
        NextPeriod(&due, periodNanos);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        if (write(board, tag.bytes, tag.length) < 0) break;
        pollfd answer{board, POLLIN, 0};
        uint8_t led[kMaxFrameLen];
        if (poll(&answer, 1, kBoardWaitMillis) <= 0 || read(board, led, sizeof(led)) <= 0) {
            ++unanswered;
            continue;
        }
        if (write(board, ack.bytes, ack.length) < 0) break;
    }

    reader.stopping = true;
    eventfd_write(reader.stopFd, 1);
    reader.chunk.Raise();
    listener.join();
    parser.join();
    close(reader.port);
    close(reader.stopFd);
    close(board);
    const double messages = static_cast<double>(state.iterations());
    state.counters["listener_us"] = reader.listenerCpu * 1e6 / messages;
    state.counters["parser_us"] = reader.parserCpu * 1e6 / messages;
    state.counters["unanswered"] = unanswered;
    state.counters["reader_us"] = (reader.listenerCpu + reader.parserCpu) * 1e6 / messages;
}
BENCHMARK(BM_WakeUpFloorPerTagMessage)->Arg(100)->Arg(300)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
