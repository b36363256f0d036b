#include "subg/serial_listener.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include "platform/log.h"
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/heartbeat.h"
#include "platform/serial_port.h"
#include "platform/timing.h"
#include "subg/frame.h"
#include "subg/link_buffers.h"
#include "subg/opcodes.h"
#include "subg/scheduler.h"
#include "subg/uart_faults.h"

int SerialFd = -1;
long long LastSerialByteMicros = 0;
std::atomic<time_t> LastSerCommTime{0};

namespace {

constexpr int kReopenPauseMicros = 10000000;
// Wakes the listener just after time() has moved on, never just before.
constexpr long long kPastTheSecondMicros = 1000;

GatheringBuffer RxBuffer{};
int SerialListenerLoopCounter = 0;
long long LastSilenceMicros = 0;

// Readable while another thread has queued a request since the listener
// last looked. Without it (-1) the listener keeps to a silence every 2.5 ms.
const int WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
thread_local bool OnListenerThread = false;

// A missing port is retried at a slow pace rather than run on with -1.
int OpenPortUntilItWorks() {
    int fd = OpenLinkPort(kSerialDevice);
    while (fd < 0) {
        MicroSecSleep(kReopenPauseMicros);
        LogLine(LOG_ERR, "SerialListener: retrying to open %s", kSerialDevice);
        fd = OpenSerialPortQuietly(kSerialDevice);
    }
    return ConfigurePort(fd);
}

long long LineQuietAt() { return std::max(LastSerialByteMicros, LastSilenceMicros) + kSilenceMicros; }

// A silence comes 2.5 ms after the last byte and after the previous
// silence. Only bytes to hand on or work of the link's own make it come at
// once; otherwise nothing can fall due before time() moves on to the next
// second (every timed duty counts in its seconds) or before the silence
// watchdog's deadline.
long long NextSilenceMicros() {
    const long long quiet = LineQuietAt();
    if (RxBuffer.length > 0 || LinkDutiesPending() || WakeFd < 0) return quiet;
    const long long nextSecond = MonotonicMicros() + MicrosToNextWallSecond() + kPastTheSecondMicros;
    return std::max(quiet, std::min(nextSecond, SilenceWatchdogDeadline()));
}

// Sleeps until the port is readable (true), another thread wakes the
// listener, or the deadline has come.
bool WaitForPort(long long deadline) {
    const long long left = std::max(0LL, deadline - MonotonicMicros());
    timespec timeout{static_cast<time_t>(left / 1000000), static_cast<long>(left % 1000000) * 1000};
    pollfd fds[2] = {{SerialFd, POLLIN, 0}, {WakeFd, POLLIN, 0}};
    if (ppoll(fds, 2, &timeout, nullptr) <= 0) return false;
    if (fds[1].revents != 0) {
        eventfd_t count;
        eventfd_read(WakeFd, &count);
    }
    return fds[0].revents != 0;
}

// Takes in what the port holds; more bytes wake the listener again. A
// stream that fills the gathering buffer without a pause gets the port's
// input flushed (logged once), again at every wake until the line pauses:
// bytes left in the port would keep it readable, and no silence would ever
// hand the full buffer on.
void GatherBytes() {
    LastSerCommTime = time(nullptr);
    const bool wasFull = RxBuffer.length >= kLinkBufferSize;
    const PortRead read = GatherFromPort(SerialFd, &RxBuffer);
    if (read == PortRead::kNothing) return;
    if (read == PortRead::kFailed) {
        LogLine(LOG_ERR, "SerialListener: Read failed (%s)", strerror(errno));
        IncUARTCommFault();
        return;
    }
    LastSerialByteMicros = MonotonicMicros();
    if (read == PortRead::kFull && !wasFull) {
        LogLine(LOG_DEBUG, "SerialListener: ReadBytesLen = %d, flushing serial port\n", RxBuffer.length);
    }
}

}  // namespace

GatheringBuffer& LinkRxBuffer() { return RxBuffer; }

PortRead GatherFromPort(int fd, GatheringBuffer* buffer) {
    if (buffer->length < kLinkBufferSize) {
        ssize_t n = read(fd, buffer->bytes + buffer->length, static_cast<size_t>(kLinkBufferSize - buffer->length));
        if (n <= 0) return n < 0 ? PortRead::kFailed : PortRead::kNothing;
        buffer->length += static_cast<int>(n);
        if (buffer->length < kLinkBufferSize) return PortRead::kBytes;
    }
    tcflush(fd, TCIFLUSH);
    return PortRead::kFull;
}

void HandOnGatheredBytes() {
    if (RxBuffer.length < 1) return;
    if (pthread_mutex_trylock(&TxMutex) != 0) return;
    const bool queued = PutMsgInQ(RxBuffer.bytes, RxBuffer.length) == 1;
    pthread_mutex_unlock(&TxMutex);
    // The board's answer to the LED word, sent after every tag message,
    // asks nothing of the parser: it waits in the queue for the next chunk
    // (at most the parser's one-second wait) rather than wake the parser
    // for nothing.
    const bool onlyLedAcks = WholeReplyFrames(RxBuffer.bytes, static_cast<size_t>(RxBuffer.length), SubGOp::LedWord);
    RxBuffer.length = 0;
    if (queued && !onlyLedAcks) SignalInboundChunk();
}

void WakeSerialListener() {
    if (OnListenerThread || WakeFd < 0) return;
    eventfd_write(WakeFd, 1);
}

int OpenLinkPort(const char* path) {
    int fd = OpenSerialPort(path);
    if (fd < 0) IncUARTCommFault();
    return fd;
}

void* SerialListener(void*) {
    OnListenerThread = true;
    SerialFd = OpenPortUntilItWorks();
    InitLinkDuties();
    for (;;) {
        Heartbeat(&SerialListenerLoopCounter, kSerialHeartbeatPasses, "SerialListener is alive!!!");
        if (WaitForPort(NextSilenceMicros())) {
            GatherBytes();
            // Whole frames are known complete without the silence: they go
            // to the parser now, and the silence has nothing to hand on, so
            // the listener sleeps through it unless a duty is due.
            if (WholeReplyFrames(RxBuffer.bytes, static_cast<size_t>(RxBuffer.length))) HandOnGatheredBytes();
            continue;
        }
        // Woken by another thread before the line has been quiet long enough.
        const long long now = MonotonicMicros();
        if (now < LineQuietAt()) continue;
        LastSilenceMicros = now;
        NoDataWaitingOnSerial();
    }
    return nullptr;
}
