// The link state machine, the TCP socket to the RTC and the counters of
// time spent without it.
#include "platform/log.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>

#include "backbone/backbone_iface.h"
#include "backbone/messages.h"
#include "backbone/reader_pack.h"
#include "params/working_params.h"
#include "platform/atomic_file.h"
#include "platform/net.h"

std::mutex RTCListMutex;
std::mutex RTCCommStateMutex;

namespace {

// Guards every write to the TCP socket, so that envelopes never interleave,
// and the socket's closing against a write in progress.
std::mutex RTCSendMutex;

constexpr int32_t kLinkStartKeepAliveSeconds = 3;

constexpr int kConnectAttempts = 10;
constexpr int kConnectPauseMillis = 50;
// Room for a slow RTC to take the rest of an envelope; beyond it the link
// is given up rather than leave half an envelope on the stream.
constexpr int kWriteTimeoutMillis = 10000;
// The read time-out while the RTC has given no keep-alive interval.
constexpr int kUnknownKeepAliveReadSeconds = 10;

long long ToMicros(const timeval& time) { return static_cast<long long>(time.tv_sec) * 1000000 + time.tv_usec; }

timeval Now() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return now;
}

// The counters only grow; at the top they stay put instead of wrapping.
void AddSaturating(std::atomic<unsigned long long>& counter, unsigned long long seconds) {
    const unsigned long long current = counter.load();
    if (seconds >= ULLONG_MAX - current) return;
    counter = current + seconds;
}

int ReadTimeoutMillis(int keepAliveSeconds) {
    if (keepAliveSeconds <= 0) return kUnknownKeepAliveReadSeconds * 1000;
    const long long millis = 2LL * keepAliveSeconds * 1000;
    return millis > INT_MAX ? INT_MAX : static_cast<int>(millis);
}

}  // namespace

BackBoneIface::BackBoneIface(OutgoingQueue& queue) : Outgoing(queue) {
    LastSendMicros = ToMicros(Now());
    // Until an RTC gives its own: 3 s, not saved.
    SetKeepAliveUnsaved(kLinkStartKeepAliveSeconds);
    ParamsUpdated = 0;
    if (PrintReaderData == 1) OpenReaderDataPackFile();
}

BackBoneIface::~BackBoneIface() {
    if (TCPSocketFD >= 0) CloseSocket(TCPSocketFD);
    CloseListeningSocket();
}

void BackBoneIface::error(const char* text) { LogLine(LOG_ERR, "%s (%s)", text, strerror(errno)); }

eRTCCommState BackBoneIface::GetRTCCommState() {
    std::lock_guard<std::mutex> lock(RTCCommStateMutex);
    return RTCCommState;
}

RTCEndpoint BackBoneIface::GetRTCEndpoint() {
    RTCEndpoint endpoint{};
    std::lock_guard<std::mutex> lock(RTCCommStateMutex);
    std::memcpy(endpoint.address, RTCIPAddress, sizeof endpoint.address);
    endpoint.port = RTCPort;
    endpoint.address[sizeof endpoint.address - 1] = '\0';
    return endpoint;
}

void BackBoneIface::SetRTCCommState(eRTCCommState state) {
    {
        std::lock_guard<std::mutex> lock(RTCCommStateMutex);
        if (state == RTCCommState) return;
        if (state != RTC_IDLE) {
            RTCCommState = state;
            return;
        }
        // A drop. The socket is only shut down here: the listener may be
        // waiting on it and a writer may hold its number (see the header).
        if (TCPSocketFD >= 0 && !SocketDropped) {
            ShutdownSocket(TCPSocketFD);
            SocketDropped = true;
        }
        // The count, not the list: RTCListMutex comes before this lock.
        RTCCommState = RTCListCount.load() > 0 ? RTC_DISCOVERED : RTC_IDLE;
    }
    // The interval is the RTC's; the next pairing gives it again.
    SetKeepAlive(-1);
}

void BackBoneIface::SetPaired(bool paired) {
    if (!paired) {
        SetRTCCommState(RTC_IDLE);
        return;
    }
    {
        // An acknowledgement read just before a drop must not mark a dead
        // link paired.
        std::lock_guard<std::mutex> lock(RTCCommStateMutex);
        if (RTCCommState != RTC_CONNECTED && RTCCommState != RTC_PAIRED) {
            LogLine(LOG_INFO, "BackBoneIface::SetPaired: the link was lost before pairing");
            return;
        }
        // A second acknowledgement on the same connection is no new one.
        if (RTCCommState == RTC_CONNECTED) ++PairedConnectionCount;
        RTCCommState = RTC_PAIRED;
    }
    SaveRTCIPaddressToFile();
}

bool BackBoneIface::IsPaired() { return GetRTCCommState() == RTC_PAIRED; }

void BackBoneIface::SaveRTCIPaddressToFile() {
    char address[sizeof RTCIPAddress];
    {
        std::lock_guard<std::mutex> lock(RTCCommStateMutex);
        memcpy(address, RTCIPAddress, sizeof address);
    }
    address[sizeof address - 1] = '\0';
    if (!WriteFileAtomically(kRTCAddressFile, address, strlen(address))) {
        LogLine(LOG_ERR, "BackBoneIface::SaveRTCIPaddressToFile: failed to open %s (%s)", kRTCAddressFile,
               strerror(errno));
        return;
    }
    LogLine(LOG_DEBUG, "BackBoneIface::SaveRTCIPaddressToFile: opened file %s", kRTCAddressFile);
}

int BackBoneIface::FailConnect(const char* text) {
    const int err = errno;
    SetRTCCommState(RTC_IDLE);
    errno = err;
    error(text);
    CloseDroppedSocket();
    return -1;
}

int BackBoneIface::OpenRTCClientSocket() {
    if (GetRTCCommState() != RTC_DISCOVERED) return -1;
    if (TCPSocketFD >= 0) {
        LogLine(LOG_DEBUG, "BackBoneIface::OpenRTCClientSocket: TCPSocketFD = %d", TCPSocketFD.load());
        return -1;
    }
    RTCEndpoint endpoint;
    {
        // The entry is tried once; the RTC's next broadcast lists it again.
        std::lock_guard<std::mutex> lock(RTCListMutex);
        if (RTCList.empty()) {
            LogLine(LOG_DEBUG, "BackBoneIface::OpenRTCClientSocket: RTC list empty");
            return -1;
        }
        endpoint = RTCList.front();
        RTCList.pop_front();
        RTCListCount = RTCList.size();
    }
    if (endpoint.address[0] == '\0') {
        LogLine(LOG_DEBUG, "BackBoneIface::OpenRTCClientSocket: RTCIPAddress empty");
        return -1;
    }
    in_addr address{};
    if (!ParseIPv4(endpoint.address, &address)) {
        LogLine(LOG_ERR, "BackBoneIface::OpenRTCClientSocket: ERROR, no such host: %s", endpoint.address);
        std::lock_guard<std::mutex> lock(RTCListMutex);
        if (RTCList.empty()) SetRTCCommState(RTC_IDLE);
        return -1;
    }
    SetRTCCommState(RTC_CONNECTING);
    SocketStep failedStep = SocketStep::kCreate;
    const int fd = OpenTcpClientSocket(&failedStep);
    if (fd < 0) {
        return FailConnect(failedStep == SocketStep::kCreate
                               ? "BackBoneIface::OpenRTCClientSocket: ERROR opening socket"
                               : "BackBoneIface::OpenRTCClientSocket: ERROR set reuseaddr on TCP socket");
    }
    {
        std::lock_guard<std::mutex> send(RTCSendMutex);
        std::lock_guard<std::mutex> lock(RTCCommStateMutex);
        TCPSocketFD = fd;
        SocketDropped = false;
    }
    if (!ConnectWithRetries(fd, address, endpoint.port, kConnectAttempts, kConnectPauseMillis))
        return FailConnect("BackBoneIface::OpenRTCClientSocket: ERROR connecting");
    bool connected = false;
    {
        std::lock_guard<std::mutex> lock(RTCCommStateMutex);
        // Another thread may have dropped the link while it came up.
        connected = RTCCommState == RTC_CONNECTING && !SocketDropped;
        if (connected) {
            memcpy(RTCIPAddress, endpoint.address, sizeof RTCIPAddress);
            RTCPort = endpoint.port;
            RTCCommState = RTC_CONNECTED;
        } else if (!SocketDropped) {
            ShutdownSocket(fd);
            SocketDropped = true;
        }
    }
    if (!connected) {
        LogLine(LOG_INFO, "BackBoneIface::OpenRTCClientSocket: link dropped while connecting");
        CloseDroppedSocket();
        return -1;
    }
    LogLine(LOG_INFO, "BackBoneIface::OpenRTCClientSocket: Connected to %s port %d", endpoint.address, endpoint.port);
    return fd;
}

void BackBoneIface::CloseDroppedSocket() {
    std::lock_guard<std::mutex> send(RTCSendMutex);
    std::lock_guard<std::mutex> lock(RTCCommStateMutex);
    if (!SocketDropped) return;
    CloseSocket(TCPSocketFD);
    TCPSocketFD = -1;
    SocketDropped = false;
}

int BackBoneIface::SendPairingMsg() {
    if (TCPSocketFD < 0) return 0;
    std::string envelope;
    try {
        if (!BuildPairingEnvelope(ReaderId, &envelope)) {
            LogLine(LOG_ERR, "BackBoneIface::SendPairingMsg: Failed to write length");
            return 0;
        }
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "BackBoneIface::SendPairingMsg: caught an exception (%s)", e.what());
        return 0;
    }
    SendWhile(RTC_CONNECTED, envelope);
    return static_cast<int>(envelope.size());
}

int BackBoneIface::SendMsgACK(unsigned long long index) {
    if (TCPSocketFD < 0) return 0;
    std::string envelope;
    try {
        if (!BuildMessageAckEnvelope(index, MillisSinceEpoch(Now()), &envelope)) {
            LogLine(LOG_ERR, "BackBoneIface::SendMsgACK: Failed to write length");
            return 0;
        }
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "BackBoneIface::SendMsgACK: caught anexception (%s)", e.what());
        return 0;
    }
    SendToRTC(envelope);
    return static_cast<int>(envelope.size());
}

bool BackBoneIface::SendToRTC(const std::string& envelope) { return SendWhile(RTC_PAIRED, envelope); }

bool BackBoneIface::SendWhile(eRTCCommState required, const std::string& envelope, uint64_t connection) {
    // Held for the whole envelope: another writer's bytes must never land
    // inside it, and the listener must not close the socket under it.
    std::lock_guard<std::mutex> send(RTCSendMutex);
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(RTCCommStateMutex);
        if (RTCCommState != required || SocketDropped || TCPSocketFD < 0) return false;
        if (connection != 0 && connection != PairedConnectionCount) return false;
        fd = TCPSocketFD;
    }
    switch (WriteAll(fd, envelope.data(), envelope.size(), kWriteTimeoutMillis)) {
        case WriteStatus::kComplete:
            LastSendMicros = ToMicros(Now());
            return true;
        case WriteStatus::kPeerGone:
            HandleSigPipe();
            return false;
        case WriteStatus::kTimedOut:
            LogLine(LOG_ERR, "BackBoneIface::SendToRTC: the RTC took no data for %d ms, dropping the link",
                   kWriteTimeoutMillis);
            break;
        case WriteStatus::kError:
            error("BackBoneIface::SendToRTC: write failed, dropping the link");
            break;
    }
    // Part of the envelope may be on the stream: nothing may follow it.
    SetRTCCommState(RTC_IDLE);
    return false;
}

int BackBoneIface::ReadRTCData(char* buffer, int length) {
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(RTCCommStateMutex);
        if (RTCCommState != RTC_PAIRED && RTCCommState != RTC_CONNECTED) return -1;
        fd = TCPSocketFD;
    }
    const int timeoutMillis = ReadTimeoutMillis(SnapshotWorkingParams().KeepAlive);
    if (WaitReadable(fd, timeoutMillis) != 1) {
        LogLine(LOG_INFO, "BackBoneIface::ReadRTCData: nothing from the RTC for %d ms, dropping the link",
               timeoutMillis);
        SetRTCCommState(RTC_IDLE);
        return -1;
    }
    const long received = ReceiveNonBlocking(fd, buffer, static_cast<size_t>(length));
    if (received == 0) {
        LogLine(LOG_INFO, "BackBoneIface::ReadRTCData: the RTC closed the connection");
        SetRTCCommState(RTC_IDLE);
        return -1;
    }
    return static_cast<int>(received);
}

void BackBoneIface::HandleSigPipe() {
    LogLine(LOG_ERR, "Entered BackBoneIface::HandleSigPipe\n");
    SetRTCCommState(RTC_IDLE);
}

void BackBoneIface::UpdateDisConnectTime(unsigned long long seconds) {
    AddSaturating(NotPairedSeconds, seconds);
    if (TCPSocketFD == -1) AddSaturating(NoSocketSeconds, seconds);
}

void BackBoneIface::SetReaderId(uint64_t id) { ReaderId = id; }

timeval BackBoneIface::GetLastSendTime() {
    const long long micros = LastSendMicros;
    timeval time{};
    time.tv_sec = static_cast<time_t>(micros / 1000000);
    time.tv_usec = static_cast<suseconds_t>(micros % 1000000);
    return time;
}

unsigned long long BackBoneIface::GetNotPairedSeconds() { return NotPairedSeconds; }

unsigned long long BackBoneIface::GetNoSocketSeconds() { return NoSocketSeconds; }
