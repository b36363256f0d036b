// Discovery: the RTC's broadcasts on UDP and the list of endpoints they
// announce.
#include "backbone/discovery.h"

#include "platform/log.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "RtcDiscoverZemloReadersBroadcast.pb.h"
#include "backbone/backbone_iface.h"
#include "backbone/envelope.h"
#include "platform/net.h"
#include "platform/timing.h"

namespace {

constexpr int kListenWindowMillis = 5001;  // 5 s and 1000 us
constexpr long long kMicrosPerMilli = 1000;
constexpr int kSearchLogPeriod = 16;
constexpr int kAfterDatagramMicros = 50000;
constexpr uint32_t kMaxPort = 65535;
// Broadcasts are not authenticated: a flood of invented ports must not grow
// the list without end. A real farm has one or two RTCs.
constexpr size_t kMaxListedEndpoints = 32;

}  // namespace

DiscoveryParse ParseDiscoveryDatagram(const uint8_t* data, int length, uint16_t* port) {
    uint32_t number = 0;
    uint32_t declaredLength = 0;
    const int headerLength = GetFieldNumAndLen(data, &number, &declaredLength, length);
    if (headerLength <= 0 || number != RTCDISCOVER) return DiscoveryParse::kNotDiscovery;
    RtcDiscoverZemloReadersBroadcast broadcast;
    if (!broadcast.ParseFromArray(data + headerLength, length - headerLength)) return DiscoveryParse::kUnparsable;
    const uint32_t announced = broadcast.rtc_readers_tcp_port();
    if (announced == 0 || announced > kMaxPort) return DiscoveryParse::kNoPort;
    *port = static_cast<uint16_t>(announced);
    return DiscoveryParse::kPort;
}

bool BackBoneIface::GetServerAddr(int length, unsigned short* port) {
    DiscoveryParse result = DiscoveryParse::kUnparsable;
    try {
        result = ParseDiscoveryDatagram(RxBuf, length, port);
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "BackBoneIface::GetServerAddr: caught anexception (%s)", e.what());
        return false;
    }
    switch (result) {
        case DiscoveryParse::kPort:
            return true;
        case DiscoveryParse::kNotDiscovery:
            LogLine(LOG_INFO, "BackBoneIface::GetServerAddr: ignored a datagram that is no discovery message");
            break;
        case DiscoveryParse::kUnparsable:
            LogLine(LOG_INFO, "BackBoneIface::GetServerAddr: ignored a discovery message that does not parse");
            break;
        case DiscoveryParse::kNoPort:
            LogLine(LOG_INFO, "BackBoneIface::GetServerAddr: ignored a discovery message without a TCP port");
            break;
    }
    return false;
}

int BackBoneIface::OpenListeningSocket(int port) {
    if (UDPSocketFD >= 0) return UDPSocketFD;
    SocketStep failedStep = SocketStep::kCreate;
    const int fd = OpenUdpListener(port, &failedStep);
    if (fd < 0) {
        switch (failedStep) {
            case SocketStep::kCreate:
                error("BackBoneIface::OpenListeningSocket: ERROR opening listening socket");
                break;
            case SocketStep::kReuseAddr:
                error("BackBoneIface::OpenListeningSocket: ERROR set reuseaddr on listening socket");
                break;
            default:
                error("BackBoneIface::OpenListeningSocket: ERROR binding listening socket");
                break;
        }
        return -1;
    }
    UDPSocketFD = fd;
    return fd;
}

void BackBoneIface::CloseListeningSocket() {
    if (UDPSocketFD < 0) return;
    CloseSocket(UDPSocketFD);
    UDPSocketFD = -1;
}

int BackBoneIface::ListenForPairing(int sliceMillis) {
    if (GetRTCCommState() == RTC_PAIRED) return -1;
    if (UDPSocketFD == -1 && OpenListeningSocket(kDiscoveryPort) < 0) {
        LogLine(LOG_ERR, "BackBoneIface::ListenForPairing: Failed to open socket");
        return -1;
    }
    const long long now = MonotonicMicros();
    if (ListenWindowEndMicros == 0) {
        ListenWindowEndMicros = now + kListenWindowMillis * kMicrosPerMilli;
        if (SearchLogCount++ == kSearchLogPeriod) {
            LogLine(LOG_DEBUG, "BackBoneIface::ListenForPairing: Searching for broadcast message\n");
            SearchLogCount = 0;
        }
    }
    const long long left = (ListenWindowEndMicros - now + kMicrosPerMilli - 1) / kMicrosPerMilli;
    const int waited = WaitReadable(UDPSocketFD, static_cast<int>(std::max(0LL, std::min<long long>(sliceMillis, left))));
    if (waited == 0 && MonotonicMicros() < ListenWindowEndMicros) return kListenGoesOn;
    ListenWindowEndMicros = 0;
    // The socket lives only while broadcasts keep coming; each silent
    // window closes it and the next opens it afresh.
    if (waited != 1) {
        if (SearchLogCount == 0) LogLine(LOG_INFO, "BackBoneIface::ListenForPairing: No broadcast message found\n");
        CloseListeningSocket();
        return -1;
    }
    char source[kIPv4TextBytes];
    const long received = ReceiveDatagram(UDPSocketFD, RxBuf, sizeof RxBuf, source);
    if (received <= 0) {
        CloseListeningSocket();
        return -1;
    }
    unsigned short port = 0;
    const bool announced = GetServerAddr(static_cast<int>(received), &port);
    if (source[0] == '\0') {
        SetRTCCommState(RTC_IDLE);
        LogLine(LOG_ERR, "BackBoneIface::ListenForPairing: Failed to parse RTC IP address\n");
        return -1;
    }
    if (!announced) return -1;
    if (!AllowedRTCs.Admits(source, port)) {
        NoteIgnoredRTC(source, port);
        // Handled, so the next pass reads on without the pause after a
        // silent window: a listed RTC's datagram may wait behind this one.
        return 0;
    }
    AddEndpoint(source, port);
    MicroSecSleep(kAfterDatagramMicros);
    return 0;
}

void BackBoneIface::ListenOnlyTo(const RTCAllowList& list) {
    AllowedRTCs = list;
    if (!list.Empty()) LogLine(LOG_INFO, "BackBoneIface::ListenOnlyTo: RTCs heard: %s", list.Describe().c_str());
}

void BackBoneIface::NoteIgnoredRTC(const char* address, uint16_t port) {
    constexpr long long kMicrosPerSecond = 1000000;
    switch (IgnoredRTCs.Take(address, MonotonicMicros() / kMicrosPerSecond)) {
        case IgnoredRTCNotices::Notice::kName:
            LogLine(LOG_INFO, "BackBoneIface::ListenForPairing: ignored RTC %s port %u, not on the list (said once an hour)",
                   address, port);
            break;
        case IgnoredRTCNotices::Notice::kMore:
            LogLine(LOG_INFO, "BackBoneIface::ListenForPairing: ignored RTCs at more than %zu addresses this hour",
                   IgnoredRTCNotices::kNamedSources);
            break;
        case IgnoredRTCNotices::Notice::kNone:
            break;
    }
}

void BackBoneIface::AddEndpoint(const char* address, uint16_t port) {
    RTCEndpoint endpoint{};
    strncpy(endpoint.address, address, sizeof endpoint.address - 1);
    endpoint.port = port;
    std::lock_guard<std::mutex> list(RTCListMutex);
    bool listed = false;
    for (const RTCEndpoint& entry : RTCList)
        listed = listed || (memcmp(entry.address, endpoint.address, sizeof endpoint.address) == 0 && entry.port == port);
    if (!listed && RTCList.size() >= kMaxListedEndpoints) {
        LogLine(LOG_ERR, "BackBoneIface::ListenForPairing: RTC list full, ignored %s port %u", address, port);
    } else if (!listed) {
        RTCList.push_back(endpoint);
        RTCListCount = RTCList.size();
        LogLine(LOG_INFO, "BackBoneIface::ListenForPairing: RTC IP address: %s", address);
    }
    // Listed before the state says so: a drop that reads the count in
    // between then lands on RTC_DISCOVERED too.
    std::lock_guard<std::mutex> lock(RTCCommStateMutex);
    if (RTCCommState == RTC_IDLE) RTCCommState = RTC_DISCOVERED;
}
