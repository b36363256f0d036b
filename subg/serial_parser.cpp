#include "subg/serial_parser.h"

#include <pthread.h>
#include <sys/stat.h>
#include <syslog.h>

#include <cerrno>
#include <cstring>

#include "app/heartbeat.h"
#include "subg/link_buffers.h"
#include "subg/opcodes.h"
#include "subg/reply_handlers.h"
#include "subg/request_queue.h"
#include "platform/timing.h"
#include "subgconfig/display_setting.h"
#include "tags/csv_logs.h"

T7734FrameReply BoardMsg;
int ReadIndex = 0;
std::atomic<uint8_t> DisplaySettings{0};
char LogDir[16] = "/tmp";

namespace {

constexpr int kHeaderBytes = 4;
constexpr int kPollMicros = 500;
// Chunks wake the parser at once; this only bounds the wait of an idle one.
constexpr int kIdleWaitMicros = 50000;
constexpr time_t kDisplaySettingCheckSeconds = 1;
constexpr int kIncompleteFrameMicros = 5000;

int SerialParserLoopCounter = 0;
time_t LastDisplaySettingCheck = 0;

void ChooseLogDir() {
    struct stat st;
    std::strcpy(LogDir, stat("/home", &st) == 0 ? "/home" : "/tmp");
}

// Looking for the file at every pass would cost a system call every half
// millisecond; once a second is soon enough for a technician.
void CheckDisplaySetting() {
    time_t now = time(nullptr);
    if (now == LastDisplaySettingCheck) return;
    LastDisplaySettingCheck = now;
    DisplaySettings = CheckFileExist(kDisplaySettingPath);
}

void WaitForChunk() {
    if (InboundSignalFd() < 0) {
        MicroSecSleep(kPollMicros);
        return;
    }
    timeval timeout{0, kIdleWaitMicros};
    WaitForData(InboundSignalFd(), timeout);
}

const char* LockErrorText(int rc) {
    switch (rc) {
        case EINVAL: return "mutex is not an initialized mutex";
        case EFAULT: return "mutex is an invalid pointer";
        default: return "Unknown error!";
    }
}

// Copies the frame at the read position into BoardMsg. Returns false, with
// the reason logged, when it is not a valid frame.
bool TakeInFrame(const uint8_t* p, int length) {
    BoardMsg.length = p[0];
    BoardMsg.byte1 = p[1];
    BoardMsg.byte2 = p[2];
    BoardMsg.opcode = p[3];
    std::memset(BoardMsg.opcodeExt, 0, sizeof(BoardMsg.opcodeExt));
    if (length < kFrameOverhead) {
        syslog(LOG_DEBUG, "SerialParser: Message length too short %d", length);
        return false;
    }
    std::memcpy(BoardMsg.data, p + kHeaderBytes, static_cast<size_t>(length - kFrameOverhead));
    BoardMsg.checksum = p[length - 1];
    uint8_t calculated = CalcCSRep(BoardMsg);
    if (calculated != BoardMsg.checksum) {
        syslog(LOG_DEBUG, "SerialParser: Calculated CS = %x, Received CS = %x Message bad format!", calculated,
               BoardMsg.checksum);
        return false;
    }
    return true;
}

}  // namespace

int BoardMsgDataLen() { return BoardMsg.length >= kFrameOverhead ? BoardMsg.length - kFrameOverhead : 0; }

int ParseInboundQueue() {
    while (InboundUnconsumed() > 0) {
        int unconsumed = InboundUnconsumed();
        const uint8_t* p = InboundReadPos();
        // The rest of the frame has not arrived yet: look again shortly.
        if (unconsumed < kHeaderBytes || p[0] > unconsumed) return kIncompleteFrameMicros;
        int length = p[0];
        if (!TakeInFrame(p, length)) break;
        MoveInboundReadPos(length);
        LowerInboundCount(length);
        ReadIndex = 1;
        RMSubGRequest(BoardMsg);
        if (DispatchReply() == kDiscardQueue) break;
    }
    // Whatever is left behind a bad frame is out of step: drop it.
    RewindInbound();
    return 0;
}

void* SerialParser(void*) {
    ChooseLogDir();
    OpenParserLogs();
    for (;;) {
        CheckDisplaySetting();
        Heartbeat(&SerialParserLoopCounter, kSerialHeartbeatPasses, "SerialParser is alive!!!");
        int rc = pthread_mutex_trylock(&TxMutex);
        if (rc != 0) {
            if (rc != EBUSY) syslog(LOG_ERR, "SerialParser: Could not lock mutex (%s)", LockErrorText(rc));
            MicroSecSleep(kPollMicros);
            continue;
        }
        ClearInboundSignal();
        bool idle = InboundUnconsumed() <= 0;
        int wait = idle ? (RewindInbound(), 0) : ParseInboundQueue();
        pthread_mutex_unlock(&TxMutex);
        if (idle) {
            WaitForChunk();
        } else if (wait > 0) {
            MicroSecSleep(wait);
        }
    }
    return nullptr;
}
