#include "backbone/msg_q_sender.h"

#include "platform/log.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "platform/heartbeat.h"
#include "backbone/backbone_iface.h"
#include "backbone/msg_queue.h"
#include "platform/clock.h"
#include "platform/timing.h"

namespace {

constexpr long long kPassMicros = 1000000;
constexpr int kTendMicros = 500000;
constexpr size_t kPackagesPerBurst = 3;
constexpr int kAlivePasses = 65535;

int MsgQSenderLoopCounter = 0;

void SendWaitingAcks(BackBoneIface* link) {
    for (uint64_t index : link->Queue().TakeAckWaiting()) link->SendMsgACK(index);
}

// Writes up to a burst of packages on the current paired connection, the
// unacknowledged ones of earlier connections first, without holding the
// queue's lock meanwhile. True when a whole burst went out and more
// packages wait.
bool SendBurst(BackBoneIface* link) {
    OutgoingQueue& queue = link->Queue();
    const uint64_t connection = link->PairedConnection();
    std::vector<WaitingMsgSt> burst;
    bool more = false;
    if (!queue.TakeToWrite(connection, kPackagesPerBurst, &burst, &more)) return false;  // busy: next pass
    size_t sent = 0;
    for (; sent < burst.size(); ++sent) {
        const WaitingMsgSt& entry = burst[sent];
        ZemloReaderDataPackage package;
        if (!package.ParsePartialFromString(entry.Msg)) {
            // It would block the queue for good.
            LogLine(LOG_ERR, "MsgQSender: package %llu cannot be decoded, dropped",
                   static_cast<unsigned long long>(entry.MsgIndex));
            queue.Discard(entry);
            continue;
        }
        if (package.reader_params_info().has_extra_info())
            LogLine(LOG_DEBUG, "MsgQSender: Sending Reader parameters with extra info");
        if (link->FlushReaderPack(std::move(package), connection) <= 0) break;  // the link failed; keep the order
        queue.WrittenWhole(entry);
    }
    if (sent < burst.size()) queue.NotWritten({burst.begin() + static_cast<std::ptrdiff_t>(sent), burst.end()});
    return sent == kPackagesPerBurst && more;
}

// Nothing written for a keep-alive interval: the package being assembled
// goes into the queue (and out in a later pass), and a keep-alive goes out
// now in any case. The RTC only answers what it receives and the listener
// drops a link silent for twice the interval: a pass that only queued the
// package would leave the link silent for the interval plus two passes,
// which reaches that time-out at an interval of two seconds, and a package
// written as the link drops is lost.
void KeepLinkAlive(BackBoneIface* link, int keepAliveSeconds) {
    const time_t now = NowSeconds();
    const time_t lastSend = link->GetLastSendTime().tv_sec;
    if (now >= lastSend && now - lastSend < keepAliveSeconds) return;
    if (link->GetReaderPackSize() > 0) link->EmptyReaderPack();
    link->FlushKeepAlive();
}

// The journal is tended every half second, also while a pause lasts: what
// was queued is durable within the half second, so that with the backbone's
// hand-over a record is on disk within two seconds of its arrival.
void SleepTendingJournal(long long micros, OutgoingQueue& queue) {
    for (long long slept = 0; slept < micros; slept += kTendMicros) {
        MicroSecSleep(kTendMicros);
        queue.TendJournal();
    }
}

void SendWhilePaired(BackBoneIface* link) {
    const int keepAliveSeconds = link->GetKeepAliveInterval();
    SendWaitingAcks(link);
    // Paced: a pause of one keep-alive interval between bursts.
    if (SendBurst(link)) SleepTendingJournal(keepAliveSeconds * kPassMicros, link->Queue());
    KeepLinkAlive(link, keepAliveSeconds);
}

}  // namespace

void* MsgQSender(void* arg) {
    auto* link = static_cast<BackBoneIface*>(arg);
    if (link == nullptr) return nullptr;
    OutgoingQueue& queue = link->Queue();
    queue.LoadQFromFile();
    LogLine(LOG_DEBUG, "MsgQSender started!!");
    for (;;) {
        Heartbeat(&MsgQSenderLoopCounter, kAlivePasses, "MsgQSender is alive!!!");
        SleepTendingJournal(kPassMicros, queue);
        if (link->IsPaired())
            SendWhilePaired(link);
        else if (link->GetRTCCommState() == RTC_CONNECTED)
            link->SendPairingMsg();
    }
    return nullptr;
}

