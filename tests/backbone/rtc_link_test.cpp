// The link to the RTC over loopback: discovery datagrams, connection,
// pairing, drops, and the listener reading a stream.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "RtcDiscoverZemloReadersBroadcast.pb.h"
#include "RtcPairingACK.pb.h"
#include "ZemloReaderPairing.pb.h"
#include "backbone/backbone_iface.h"
#include "backbone/discovery.h"
#include "backbone/envelope.h"
#include "backbone/msg_queue.h"
#include "backbone/rtc_listener.h"
#include "platform/net.h"
#include "support/scratch_dir.h"

namespace {

// Longer than the listening window: one call hears what was sent before it.
constexpr int kWholeWindowMillis = 6000;

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// A TCP socket bound to an ephemeral loopback port; listening or, to be
// refused, not.
int BoundTcpSocket(bool listening, int* port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    if (listening) {
        EXPECT_EQ(listen(fd, 4), 0);
    }
    *port = LocalPort(fd);
    return fd;
}

std::string Datagram(int tcpPort, const char* claimedAddress) {
    RtcDiscoverZemloReadersBroadcast broadcast;
    broadcast.set_rtc_ip_address(claimedAddress);
    if (tcpPort >= 0) broadcast.set_rtc_readers_tcp_port(static_cast<uint32_t>(tcpPort));
    std::string bytes;
    AppendEnvelope(RTCDISCOVER, broadcast, &bytes);
    return bytes;
}

class RTCLinkTest : public ::testing::Test {
public:
    void SetUp() override {
        discoveryPort_ = LocalPort(link_.OpenListeningSocket(0));
        rtcListenFd_ = BoundTcpSocket(true, &rtcPort_);
        refusingFd_ = BoundTcpSocket(false, &refusingPort_);
    }
    void TearDown() override {
        for (int fd : {rtcListenFd_, refusingFd_, rtcFd_})
            if (fd >= 0) close(fd);
    }

    int Announce(const std::string& datagram) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in to = Loopback(discoveryPort_);
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        close(fd);
        return link_.ListenForPairing(kWholeWindowMillis);
    }

    // The fake RTC's end of the connection the reader opened.
    void Accept() {
        if (rtcFd_ >= 0) close(rtcFd_);
        rtcFd_ = accept(rtcListenFd_, nullptr, nullptr);
        ASSERT_GE(rtcFd_, 0);
    }

    std::string RtcReceives() {
        char buffer[256];
        const ssize_t n = recv(rtcFd_, buffer, sizeof buffer, MSG_DONTWAIT);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }

    ScratchDir dir_{"rtc_link_", ScratchDir::Cwd::Enter};
    OutgoingQueue queue_;
    BackBoneIface link_{queue_};
    int discoveryPort_ = -1;
    int rtcListenFd_ = -1, rtcPort_ = 0;
    int refusingFd_ = -1, refusingPort_ = 0;
    int rtcFd_ = -1;
};

TEST_F(RTCLinkTest, StateFollowsDiscoveryConnectionPairingAndDrops) {
    struct Step {
        const char* what;
        std::function<void(RTCLinkTest&)> action;
        eRTCCommState state;
        size_t listed;
    } steps[] = {
        {"a broadcast naming another address", [](RTCLinkTest& t) { EXPECT_EQ(t.Announce(Datagram(t.rtcPort_, "10.9.8.7")), 0); },
         RTC_DISCOVERED, 1},
        {"the same RTC again", [](RTCLinkTest& t) { EXPECT_EQ(t.Announce(Datagram(t.rtcPort_, "10.9.8.7")), 0); },
         RTC_DISCOVERED, 1},
        {"the same address, another port",
         [](RTCLinkTest& t) { EXPECT_EQ(t.Announce(Datagram(t.refusingPort_, "127.0.0.1")), 0); }, RTC_DISCOVERED, 2},
        {"no port", [](RTCLinkTest& t) { EXPECT_EQ(t.Announce(Datagram(-1, "127.0.0.1")), -1); }, RTC_DISCOVERED, 2},
        {"port 0", [](RTCLinkTest& t) { EXPECT_EQ(t.Announce(Datagram(0, "127.0.0.1")), -1); }, RTC_DISCOVERED, 2},
        {"connect to the sender's address",
         [](RTCLinkTest& t) {
             EXPECT_GE(t.link_.OpenRTCClientSocket(), 0);
             t.Accept();
         },
         RTC_CONNECTED, 1},
        {"paired", [](RTCLinkTest& t) { t.link_.SetPaired(true); }, RTC_PAIRED, 1},
        {"acknowledged again", [](RTCLinkTest& t) { t.link_.SetPaired(true); }, RTC_PAIRED, 1},
        {"the RTC has gone", [](RTCLinkTest& t) { t.link_.HandleSigPipe(); }, RTC_DISCOVERED, 1},
        {"the next endpoint refuses",
         [](RTCLinkTest& t) {
             t.link_.CloseDroppedSocket();
             EXPECT_EQ(t.link_.OpenRTCClientSocket(), -1);
         },
         RTC_IDLE, 0},
        {"announced again", [](RTCLinkTest& t) { t.Announce(Datagram(t.rtcPort_, "")); }, RTC_DISCOVERED, 1},
        {"connected again",
         [](RTCLinkTest& t) {
             EXPECT_GE(t.link_.OpenRTCClientSocket(), 0);
             t.Accept();
         },
         RTC_CONNECTED, 0},
        {"a drop with nothing listed", [](RTCLinkTest& t) { t.link_.SetPaired(false); }, RTC_IDLE, 0},
        {"an acknowledgement after the drop", [](RTCLinkTest& t) { t.link_.SetPaired(true); }, RTC_IDLE, 0},
    };
    for (Step& step : steps) {
        step.action(*this);
        EXPECT_EQ(link_.GetRTCCommState(), step.state) << step.what;
        EXPECT_EQ(link_.RTCListSize(), step.listed) << step.what;
    }
    EXPECT_EQ(link_.PairedConnection(), 1u) << "one connection was paired, however often acknowledged";
    std::ifstream file(kRTCAddressFile);
    std::stringstream content;
    content << file.rdbuf();
    EXPECT_EQ(content.str(), "127.0.0.1");
}

// The backbone listens in short slices between records: a quiet slice
// keeps the window (and its socket) open for a broadcast that comes later.
TEST_F(RTCLinkTest, AQuietSliceKeepsListeningWithinTheWindow) {
    EXPECT_EQ(link_.ListenForPairing(20), kListenGoesOn);
    EXPECT_EQ(Announce(Datagram(rtcPort_, "")), 0);
    EXPECT_EQ(link_.RTCListSize(), 1u);
}

TEST_F(RTCLinkTest, WritesGoOutWholeOnlyInTheirStateAndAGoneRTCDropsTheLink) {
    link_.SetReaderId(0x0011223344556677ull);
    Announce(Datagram(rtcPort_, ""));
    ASSERT_GE(link_.OpenRTCClientSocket(), 0);
    Accept();
    const std::string envelope = "\x52\x02\x08\x05";
    EXPECT_FALSE(link_.SendToRTC(envelope)) << "not paired yet";
    EXPECT_GT(link_.SendPairingMsg(), 0);
    std::string pairing;
    for (int i = 0; i < 100 && pairing.empty(); ++i) {
        WaitReadable(rtcFd_, 50);
        pairing = RtcReceives();
    }
    ASSERT_EQ(pairing.substr(0, 2), "\x12\x09") << "envelope 2, nine bytes";
    ZemloReaderPairing parsed;
    ASSERT_TRUE(parsed.ParseFromString(pairing.substr(2)));
    EXPECT_EQ(parsed.reader_mac_address(), 0x0011223344556677ull);

    link_.SetPaired(true);
    EXPECT_TRUE(link_.SendToRTC(envelope));
    EXPECT_EQ(link_.SendPairingMsg(), 11) << "prepared, not written while paired";
    ASSERT_EQ(WaitReadable(rtcFd_, 5000), 1);
    EXPECT_EQ(RtcReceives(), envelope);

    close(rtcFd_);
    rtcFd_ = -1;
    bool sent = true;
    for (int i = 0; i < 100 && sent; ++i) sent = link_.SendToRTC(envelope);
    EXPECT_FALSE(sent);
    EXPECT_EQ(link_.GetRTCCommState(), RTC_IDLE);
}

TEST_F(RTCLinkTest, DisconnectionCountersStopAtTheirMaximum) {
    link_.UpdateDisConnectTime(ULLONG_MAX - 5);
    link_.UpdateDisConnectTime(10);
    EXPECT_EQ(link_.GetNotPairedSeconds(), ULLONG_MAX - 5);
    EXPECT_EQ(link_.GetNoSocketSeconds(), ULLONG_MAX - 5);
}

void SetKeepAliveHook(int) {}

TEST_F(RTCLinkTest, ListenerPairsOnASplitAcknowledgementAndDropsABrokenStream) {
    RTCHandlerContext context{&link_, SetKeepAliveHook, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr};
    RTCListenerLoop listener(context);
    Announce(Datagram(rtcPort_, ""));
    RtcPairingACK ack;
    ack.set_keep_alive_interval_seconds(5);
    std::string bytes;
    AppendEnvelope(RTCPAIRACK, ack, &bytes);
    std::thread rtc([&] {
        Accept();
        send(rtcFd_, bytes.data(), 1, 0);
    });
    listener.Pass();  // connects and reads the first byte alone
    rtc.join();
    EXPECT_EQ(link_.GetRTCCommState(), RTC_CONNECTED);
    send(rtcFd_, bytes.data() + 1, bytes.size() - 1, 0);
    listener.Pass();
    ASSERT_EQ(link_.GetRTCCommState(), RTC_PAIRED);

    send(rtcFd_, "\x18\x05", 2, 0);
    listener.Pass();
    EXPECT_EQ(link_.GetRTCCommState(), RTC_IDLE);
    listener.Pass();
    link_.UpdateDisConnectTime(1);
    EXPECT_EQ(link_.GetNoSocketSeconds(), 1u) << "the listener closed the dropped socket";
    char probe;
    EXPECT_EQ(recv(rtcFd_, &probe, 1, 0), 0) << "the RTC sees the connection end";
}

TEST(Discovery, OnlyAnEnvelopeOneWithAPortAnnouncesAnRTC) {
    struct Case {
        const char* what;
        std::string bytes;
        DiscoveryParse result;
        uint16_t port;
    } cases[] = {
        {"port 4000", Datagram(4000, "1.2.3.4"), DiscoveryParse::kPort, 4000},
        {"envelope 2", "\x12" + Datagram(4000, "").substr(1), DiscoveryParse::kNotDiscovery, 0},
        {"no header", "\x0A", DiscoveryParse::kNotDiscovery, 0},
        {"garbage body", "\x0A\x03\xFF\xFF\xFF", DiscoveryParse::kUnparsable, 0},
        {"no port", Datagram(-1, "1.2.3.4"), DiscoveryParse::kNoPort, 0},
        {"port beyond 16 bits", Datagram(70000, ""), DiscoveryParse::kNoPort, 0},
    };
    for (const Case& c : cases) {
        uint16_t port = 0;
        EXPECT_EQ(ParseDiscoveryDatagram(reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                         static_cast<int>(c.bytes.size()), &port),
                  c.result)
            << c.what;
        EXPECT_EQ(port, c.port) << c.what;
    }
}

}  // namespace
