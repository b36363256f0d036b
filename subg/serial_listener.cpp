#include "subg/serial_listener.h"

#include <pthread.h>
#include <sys/select.h>
#include <syslog.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/heartbeat.h"
#include "platform/serial_port.h"
#include "platform/timing.h"
#include "subg/link_buffers.h"
#include "subg/scheduler.h"
#include "subg/uart_faults.h"

int SerialFd = -1;
std::atomic<int> NoSerCommCounter{0};
std::atomic<time_t> LastSerCommTime{0};

namespace {

constexpr int kReopenPauseMicros = 10000000;

uint8_t RxBuffer[kLinkBufferSize];
int ReadBytesLen = 0;
int SerialListenerLoopCounter = 0;

// A missing port is retried at a slow pace rather than run on with -1.
int OpenPortUntilItWorks() {
    int fd = OpenLinkPort(kSerialDevice);
    while (fd < 0) {
        MicroSecSleep(kReopenPauseMicros);
        syslog(LOG_ERR, "SerialListener: retrying to open %s", kSerialDevice);
        fd = OpenSerialPortQuietly(kSerialDevice);
    }
    return ConfigurePort(fd);
}

bool PortReadable() {
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(SerialFd, &readSet);
    timeval tv{0, kSilenceMicros};
    return select(SerialFd + 1, &readSet, nullptr, nullptr, &tv) > 0;
}

// Reads until the port has nothing more to give. A stream that fills the
// gathering buffer without a pause gets the port's input flushed; the full
// buffer is handed on at the next silence.
void GatherBytes() {
    LastSerCommTime = time(nullptr);
    for (;;) {
        ssize_t n = read(SerialFd, RxBuffer + ReadBytesLen, static_cast<size_t>(kLinkBufferSize - ReadBytesLen));
        if (n == 0) return;
        if (n < 0) {
            syslog(LOG_ERR, "SerialListener: Read failed (%s)", strerror(errno));
            IncUARTCommFault();
            return;
        }
        ReadBytesLen += static_cast<int>(n);
        if (ReadBytesLen > kLinkBufferSize - 1) {
            syslog(LOG_DEBUG, "SerialListener: ReadBytesLen = %d, flushing serial port\n", ReadBytesLen);
            tcflush(SerialFd, TCIFLUSH);
            return;
        }
        NoSerCommCounter = 0;
    }
}

}  // namespace

void HandOnGatheredBytes() {
    if (ReadBytesLen < 1) return;
    if (pthread_mutex_trylock(&TxMutex) != 0) return;
    PutMsgInQ(RxBuffer, ReadBytesLen);
    pthread_mutex_unlock(&TxMutex);
    ReadBytesLen = 0;
}

int OpenLinkPort(const char* path) {
    int fd = OpenSerialPort(path);
    if (fd < 0) IncUARTCommFault();
    return fd;
}

void* SerialListener(void*) {
    SerialFd = OpenPortUntilItWorks();
    InitLinkDuties();
    for (;;) {
        Heartbeat(&SerialListenerLoopCounter, kSerialHeartbeatPasses, "SerialListener is alive!!!");
        if (PortReadable()) {
            GatherBytes();
        } else {
            NoDataWaitingOnSerial();
        }
    }
    return nullptr;
}
