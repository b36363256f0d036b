#include "tools/rtcsim/rtc_server.h"

#include <arpa/inet.h>
#include <google/protobuf/message.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "RtcAcknowledgePersistedTagData.pb.h"
#include "ZemloReaderDataPackage.pb.h"
#include "tools/subgsim/sim_events.h"

namespace {

using std::chrono::milliseconds;

constexpr size_t kReadChunk = 64 * 1024;
// A reader that stops reading must not make us hold unbounded output.
constexpr size_t kMaxQueuedOutput = 1 << 20;
// Reads of the stream and of the control FIFO per pass, so that neither can
// starve the other.
constexpr int kReadsPerPass = 8;
constexpr int kEnvelopesPerRead = 4096;
constexpr int kListenBacklog = 4;
// A flood is generated as the reader takes it: no more than this waits in
// our own queue, so that any count costs no more memory than a few.
constexpr size_t kFloodLowWater = 64 * 1024;

std::string Errno() { return std::strerror(errno); }

std::string AddressText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

bool ToAddress(const std::string& ip, uint16_t port, sockaddr_in* out) {
    *out = sockaddr_in{};
    out->sin_family = AF_INET;
    out->sin_port = htons(port);
    return inet_pton(AF_INET, ip.c_str(), &out->sin_addr) == 1;
}

std::string HexOf(const std::string& bytes) {
    return HexBytes(reinterpret_cast<const uint8_t*>(bytes.data()), std::min<size_t>(bytes.size(), 64)) +
           (bytes.size() > 64 ? " .." : "");
}

int PollMs(RtcSimulator::Clock::duration wait) {
    auto ms = std::chrono::ceil<milliseconds>(std::max(wait, RtcSimulator::Clock::duration::zero())).count();
    return static_cast<int>(std::min<long long>(ms, 1000));
}

}  // namespace

RtcSimulator::RtcSimulator(const RtcSimConfig& config, Printer* printer)
    : config_(config), printer_(printer), broadcastDue_(Clock::now()), scriptDue_(Clock::now()) {}

RtcSimulator::~RtcSimulator() {
    for (int fd : {listenFd_, readerFd_, udpFd_}) {
        if (fd >= 0) close(fd);
    }
}

bool RtcSimulator::Start() {
    sockaddr_in target{};
    if (!ToAddress(config_.broadcastTo, config_.broadcastPort, &target)) {
        std::fprintf(stderr, "tarnel-rtcsim: bad broadcast address %s\n", config_.broadcastTo.c_str());
        return false;
    }
    udpFd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int on = 1;
    // A chosen listening address is the one the datagrams come from too:
    // two simulators on one host announce from two addresses.
    sockaddr_in source{};
    const bool bindSource = config_.listenAddress != "0.0.0.0";
    if (udpFd_ < 0 || setsockopt(udpFd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        (bindSource && (!ToAddress(config_.listenAddress, 0, &source) ||
                        bind(udpFd_, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0))) {
        std::fprintf(stderr, "tarnel-rtcsim: broadcast socket: %s\n", Errno().c_str());
        return false;
    }
    boundPort_ = config_.tcpPort;
    if (!OpenListener()) return false;
    printer_->Event(
        "LISTEN",
        {{"address", config_.listenAddress}, {"port", std::to_string(boundPort_)}, {"broadcast", AddressText(target)}});
    return true;
}

// Reopened on the same port after "listen off", so the reader finds us again.
bool RtcSimulator::OpenListener() {
    sockaddr_in address{};
    if (!ToAddress(config_.listenAddress, boundPort_, &address)) {
        std::fprintf(stderr, "tarnel-rtcsim: bad listen address %s\n", config_.listenAddress.c_str());
        return false;
    }
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int on = 1;
    socklen_t length = sizeof address;
    // Set before listen(): a connection's window is agreed on as it opens.
    const int recvBuffer = static_cast<int>(config_.recvBufferBytes);
    if (listenFd_ < 0 || setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        (recvBuffer > 0 && setsockopt(listenFd_, SOL_SOCKET, SO_RCVBUF, &recvBuffer, sizeof recvBuffer) != 0) ||
        bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, kListenBacklog) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::fprintf(stderr, "tarnel-rtcsim: cannot listen on %s port %u: %s\n", config_.listenAddress.c_str(),
                     boundPort_, Errno().c_str());
        CloseListener();
        return false;
    }
    boundPort_ = ntohs(address.sin_port);
    return true;
}

void RtcSimulator::CloseListener() {
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
}

void RtcSimulator::Run(const volatile std::sig_atomic_t* stop) {
    const Clock::time_point end =
        config_.seconds ? Clock::now() + std::chrono::seconds(*config_.seconds) : Clock::time_point::max();
    while (!*stop) {
        Clock::time_point now = Clock::now();
        if (now >= end) break;
        Pass(now);
        WaitForInput(Clock::now(), end);
    }
    PrintStats();
}

void RtcSimulator::Pass(Clock::time_point now) {
    RunScript(now);
    if (paused_ && now >= pauseUntil_) {
        paused_ = false;
        printer_->Event("RESUMED", {});
    }
    if (config_.broadcastEveryMs > 0 && now >= broadcastDue_) {
        Broadcast();
        broadcastDue_ = now + milliseconds(config_.broadcastEveryMs);
    }
    TopUpFlood();
    WriteDue(now);
}

RtcSimulator::Clock::time_point RtcSimulator::NextWake(Clock::time_point end) const {
    Clock::time_point wake = end;
    if (config_.broadcastEveryMs > 0) wake = std::min(wake, broadcastDue_);
    if (scriptNext_ < config_.script.size()) wake = std::min(wake, scriptDue_);
    if (paused_) wake = std::min(wake, pauseUntil_);
    if (!out_.empty() && !writeBlocked_) wake = std::min(wake, out_.front().due);
    // Room for more of a flood: at once; else when the queued bytes go.
    if (floodLeft_ > 0 && outBytes_ < kFloodLowWater) wake = Clock::now();
    return wake;
}

void RtcSimulator::WaitForInput(Clock::time_point now, Clock::time_point end) {
    const bool accepting = acceptMode_ != kAcceptOff;
    pollfd fds[3] = {{accepting ? listenFd_ : -1, POLLIN, 0},
                     {readerFd_, static_cast<short>((paused_ ? 0 : POLLIN) | (writeBlocked_ ? POLLOUT : 0)), 0},
                     {config_.controlFd, POLLIN, 0}};
    if (poll(fds, 3, PollMs(NextWake(end) - now)) <= 0) return;
    if (fds[0].revents & POLLIN) Accept();
    if (fds[1].revents & POLLOUT) writeBlocked_ = false;
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) ReadReader();
    if (fds[2].revents & POLLIN) ReadControl();
}

// One reader at a time: a new connection replaces the old one, as a
// reader that reconnects has given the old one up.
void RtcSimulator::Accept() {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (acceptMode_ == kAcceptClose) {
        close(fd);
        printer_->Event("REFUSED", {{"peer", AddressText(peer)}});
        return;
    }
    if (readerFd_ >= 0) CloseReader("replaced by a new connection");
    // Each write its own segment, so that split and dribbled envelopes
    // reach the reader as separate reads.
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    readerFd_ = fd;
    printer_->Event("CONNECT", {{"peer", AddressText(peer)}});
}

void RtcSimulator::ReadReader() {
    for (int i = 0; i < kReadsPerPass && readerFd_ >= 0 && !paused_; ++i) {
        char bytes[kReadChunk];
        ssize_t n = read(readerFd_, bytes, sizeof bytes);
        if (n == 0) return CloseReader("end of stream");
        if (n < 0) {
            if (errno != EAGAIN && errno != EINTR) CloseReader(Errno());
            return;
        }
        cutter_.Append(bytes, static_cast<size_t>(n));
        // Each envelope consumes bytes, so the read's size bounds the rounds.
        for (int round = 0; round < kEnvelopesPerRead && readerFd_ >= 0; ++round) {
            EnvelopeCutter::Cut cut = cutter_.Next();
            if (cut.kind == EnvelopeCutter::Cut::Kind::kNone) break;
            if (cut.kind == EnvelopeCutter::Cut::Kind::kInvalid) {
                printer_->Event("BAD", {{"error", cut.error}});
                return CloseReader("the stream cannot be read any further");
            }
            HandleEnvelope(cut.number, cut.body);
        }
    }
}

void RtcSimulator::HandleEnvelope(uint32_t number, const std::string& body) {
    printer_->Envelope(Direction::kReceived, number, body);
    if (number == READERPAIRING && config_.answerPairing) SendWhole(PairingAckEnvelope(config_.pairing, NowMs()));
    if (number != READERDATAPACKAGE || !config_.answerData) return;
    ZemloReaderDataPackage package;
    // A keep-alive (index 0) is answered too, with nothing persisted: a
    // reader with nothing to send must still hear from its RTC within its
    // read time-out, or it drops the link.
    if (package.ParseFromString(body)) SendPersistAck(package.message_header().message_index());
}

void RtcSimulator::CloseReader(const std::string& reason) {
    if (readerFd_ < 0) return;
    if (floodLeft_ > 0) EndFlood("FLOOD_STOPPED", reason);
    close(readerFd_);
    readerFd_ = -1;
    cutter_.Clear();
    out_.clear();
    outBytes_ = 0;
    writeBlocked_ = false;
    printer_->Event("CLOSED", {{"reason", reason}});
}

void RtcSimulator::ReadControl() {
    for (int i = 0; i < kReadsPerPass; ++i) {
        char bytes[1024];
        ssize_t n = read(config_.controlFd, bytes, sizeof bytes);
        if (n <= 0) return;
        for (const LineSplitter::Line& line : controlLines_.Feed(bytes, static_cast<size_t>(n))) {
            RunControlLine(line);
        }
    }
}

void RtcSimulator::RunControlLine(const LineSplitter::Line& line) {
    const std::string text = PrintableLine(line.text);
    RtcCommand cmd;
    bool isCommand = false;
    std::string error = line.tooLong ? "line longer than " + std::to_string(LineSplitter::kMaxLine) + " bytes"
                                     : ParseRtcCommand(line.text, &cmd, &isCommand);
    if (error.empty() && isCommand && cmd.kind == RtcCommand::Kind::Sleep) error = "sleep only works in a script";
    if (!error.empty()) {
        printer_->Event("CONTROL_ERROR", {{"line", text}, {"error", error}});
        return;
    }
    if (!isCommand) return;
    printer_->Event("CONTROL", {{"line", text}});
    Execute(cmd, Clock::now());
}

void RtcSimulator::RunScript(Clock::time_point now) {
    while (scriptNext_ < config_.script.size() && scriptDue_ <= now) Execute(config_.script[scriptNext_++], now);
}

void RtcSimulator::Execute(const RtcCommand& cmd, Clock::time_point now) {
    if (cmd.floodCount > 0) return StartFlood(cmd, now);
    if (cmd.WritesStream()) return ExecuteStreamCommand(cmd, now);
    ExecuteSetting(cmd, now);
}

void RtcSimulator::ExecuteStreamCommand(const RtcCommand& cmd, Clock::time_point now) {
    const std::string bytes = StreamBytes(cmd);
    if (bytes.empty() || !QueueBytes(bytes, cmd.pacing, cmd.paceMs)) return;
    PrintSent(cmd, bytes);
    WriteDue(now);
}

std::string RtcSimulator::StreamBytes(const RtcCommand& cmd) {
    using Kind = RtcCommand::Kind;
    switch (cmd.kind) {
        case Kind::PairAck: return PairingAckEnvelope(config_.pairing, NowMs());
        case Kind::Message: return Stamped(cmd.number, *cmd.message);
        case Kind::ClockSync: return ClockSyncEnvelope(cmd.clock.At(NowMs()));
        case Kind::Envelope: return HeaderOnly(cmd.number, static_cast<uint32_t>(cmd.bytes.size())) + cmd.bytes;
        case Kind::Raw: return cmd.bytes;
        case Kind::Header: return HeaderOnly(cmd.number, cmd.length);
        default: return "";
    }
}

std::string RtcSimulator::Stamped(uint32_t number, const google::protobuf::Message& prototype) {
    std::unique_ptr<google::protobuf::Message> msg(prototype.New());
    msg->CopyFrom(prototype);
    StampHeader(msg.get(), nextIndex_++, NowMs());
    return Frame(number, *msg);
}

void RtcSimulator::PrintSent(const RtcCommand& cmd, const std::string& bytes) {
    using Kind = RtcCommand::Kind;
    if (cmd.pacing == RtcCommand::Pacing::kCutByReset) {
        printer_->Event("SENT_CUT", {{"len", std::to_string(bytes.size() / 2)}, {"of", std::to_string(bytes.size())}});
    } else if (cmd.kind == Kind::Raw) {
        printer_->Event("SENT_RAW", {{"len", std::to_string(bytes.size())}, {"bytes", HexOf(bytes)}});
    } else if (cmd.kind == Kind::Header) {
        printer_->Event("SENT_HEADER", {{"envelope", std::to_string(cmd.number)}, {"length", std::to_string(cmd.length)}});
    } else {
        PrintEnvelope(bytes);
    }
}

void RtcSimulator::PrintEnvelope(const std::string& envelope) {
    uint32_t number = 0;
    uint32_t length = 0;
    int headerLength = 0;
    ReadEnvelopeHeader(reinterpret_cast<const uint8_t*>(envelope.data()), static_cast<int32_t>(envelope.size()),
                       &number, &length, &headerLength);
    printer_->Envelope(Direction::kSent, number, envelope.substr(static_cast<size_t>(headerLength)));
}

void RtcSimulator::StartFlood(const RtcCommand& cmd, Clock::time_point now) {
    if (readerFd_ < 0) {
        printer_->Event("NOT_SENT", {{"reason", "no reader connected"}});
        return;
    }
    if (floodLeft_ > 0) EndFlood("FLOOD_STOPPED", "replaced by a new flood");
    flood_ = cmd;
    floodLeft_ = cmd.floodCount;
    floodSent_ = 0;
    printer_->Event("FLOOD", {{"count", std::to_string(cmd.floodCount)}});
    TopUpFlood();
    WriteDue(now);
}

void RtcSimulator::TopUpFlood() {
    while (floodLeft_ > 0 && readerFd_ >= 0 && outBytes_ < kFloodLowWater) {
        const std::string bytes = StreamBytes(flood_);
        if (bytes.empty() || !QueueBytes(bytes, RtcCommand::Pacing::kWhole, 0)) {
            return EndFlood("FLOOD_STOPPED", "the command gives no bytes");
        }
        --floodLeft_;
        ++floodSent_;
    }
    if (floodLeft_ == 0 && floodSent_ > 0) EndFlood("FLOOD_DONE", "");
}

void RtcSimulator::EndFlood(const char* event, const std::string& reason) {
    Fields fields = {{"sent", std::to_string(floodSent_)}};
    if (!reason.empty()) fields.emplace_back("reason", reason);
    printer_->Event(event, fields);
    floodLeft_ = 0;
    floodSent_ = 0;
}

// An RST instead of an orderly end: what the reader sees when the RTC's
// host crashes or a middlebox gives up on the connection.
void RtcSimulator::ResetReader(const std::string& reason) {
    if (readerFd_ < 0) return;
    linger hard{1, 0};
    setsockopt(readerFd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    CloseReader(reason);
}

void RtcSimulator::ExecuteSetting(const RtcCommand& cmd, Clock::time_point now) {
    using Kind = RtcCommand::Kind;
    switch (cmd.kind) {
        case Kind::Sleep: scriptDue_ = now + milliseconds(cmd.number); break;
        case Kind::KeepAlive: config_.pairing.keepAliveSeconds = cmd.value; break;
        case Kind::Version: config_.pairing.protocolVersion = cmd.version; break;
        case Kind::Clock: config_.pairing.clock = cmd.clock; break;
        case Kind::Pause:
            paused_ = true;
            pauseUntil_ = cmd.number > 0 ? now + milliseconds(cmd.number) : Clock::time_point::max();
            break;
        case Kind::Resume: pauseUntil_ = now; break;
        case Kind::Close: CloseReader("closed on command"); break;
        case Kind::Accept: acceptMode_ = cmd.number; break;
        case Kind::Listen:
            if (cmd.number == 0) CloseListener();
            if (cmd.number == 1 && listenFd_ < 0) OpenListener();
            break;
        case Kind::Broadcast: Broadcast(); break;
        case Kind::BroadcastEvery:
            config_.broadcastEveryMs = cmd.number;
            broadcastDue_ = now;
            break;
        case Kind::Announce:
            config_.announcePort = cmd.value;
            config_.announceListening = cmd.announceListening;
            break;
        case Kind::Datagram: SendDatagram(cmd.bytes, false); break;
        case Kind::AutoAck: (cmd.word == "pair" ? config_.answerPairing : config_.answerData) = cmd.number != 0; break;
        case Kind::Persist:
            if (cmd.word == "skip")
                config_.withheldOnce.insert(cmd.indexes.begin(), cmd.indexes.end());
            else
                config_.persistData = cmd.word == "on";
            break;
        case Kind::Stats: PrintStats(); break;
        case Kind::Reset: ResetReader("reset on command"); break;
        default: break;
    }
}

// Withheld, the package is answered all the same, naming nothing: the
// reader still hears from us and keeps the link.
void RtcSimulator::SendPersistAck(uint64_t index) {
    RtcAcknowledgePersistedTagData ack;
    if (index > 0 && !Withhold(index)) ack.add_persisted_message_numbers(index);
    SendWhole(Stamped(RTCPERSISTACK, ack));
}

bool RtcSimulator::Withhold(uint64_t index) {
    auto once = config_.withheldOnce.find(index);
    const bool withheld = !config_.persistData || once != config_.withheldOnce.end();
    if (once != config_.withheldOnce.end()) config_.withheldOnce.erase(once);
    if (withheld) printer_->Event("WITHHELD", {{"index", std::to_string(index)}});
    return withheld;
}

// Written at once, so that an answer printed as sent is on the stream
// before any command that follows (a reset) can cut it.
void RtcSimulator::SendWhole(const std::string& envelope) {
    if (!QueueBytes(envelope, RtcCommand::Pacing::kWhole, 0)) return;
    PrintEnvelope(envelope);
    WriteDue(Clock::now());
}

bool RtcSimulator::QueueBytes(const std::string& bytes, RtcCommand::Pacing pacing, uint32_t paceMs) {
    if (readerFd_ < 0) {
        printer_->Event("NOT_SENT", {{"reason", "no reader connected"}});
        return false;
    }
    if (outBytes_ + bytes.size() > kMaxQueuedOutput) {
        printer_->Event("NOT_SENT", {{"reason", "the reader reads nothing; output queue full"}});
        return false;
    }
    // Later bytes never overtake earlier ones.
    Clock::time_point due = out_.empty() ? Clock::now() : std::max(Clock::now(), out_.back().due);
    if (pacing == RtcCommand::Pacing::kCutByReset) {
        out_.push_back({bytes.substr(0, bytes.size() / 2), due, true});
        outBytes_ += out_.back().bytes.size();
        return true;
    }
    const size_t pieces = pacing == RtcCommand::Pacing::kWhole   ? 1
                          : pacing == RtcCommand::Pacing::kSplit ? std::min<size_t>(2, bytes.size())
                                                                 : bytes.size();
    size_t start = 0;
    for (size_t i = 0; i < pieces; ++i) {
        size_t length =
            i + 1 == pieces ? bytes.size() - start : (pacing == RtcCommand::Pacing::kSplit ? bytes.size() / 2 : 1);
        out_.push_back({bytes.substr(start, length), due});
        start += length;
        due += milliseconds(paceMs);
    }
    outBytes_ += bytes.size();
    return true;
}

void RtcSimulator::WriteDue(Clock::time_point now) {
    while (readerFd_ >= 0 && !out_.empty() && !writeBlocked_ && out_.front().due <= now) {
        Chunk& chunk = out_.front();
        ssize_t n = send(readerFd_, chunk.bytes.data(), chunk.bytes.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                writeBlocked_ = true;
            else if (errno != EINTR)
                CloseReader(Errno());
            return;
        }
        outBytes_ -= static_cast<size_t>(n);
        chunk.bytes.erase(0, static_cast<size_t>(n));
        if (!chunk.bytes.empty()) continue;
        const bool reset = chunk.resetAfter;
        out_.pop_front();
        if (reset) return ResetReader("reset after half an envelope");
    }
}

void RtcSimulator::Broadcast() {
    std::optional<uint32_t> port =
        config_.announceListening ? std::optional<uint32_t>(boundPort_) : config_.announcePort;
    SendDatagram(DiscoveryDatagram(AnnouncedIp(), port), true);
}

// Only the first datagram and failures are printed, unless verbose: the
// broadcast goes on every few seconds for as long as we run.
void RtcSimulator::SendDatagram(const std::string& datagram, bool announce) {
    sockaddr_in target{};
    ToAddress(config_.broadcastTo, config_.broadcastPort, &target);
    const std::string to = AddressText(target);
    if (sendto(udpFd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof target) < 0) {
        const bool noRoute = errno == ENETUNREACH;
        std::string error = Errno();
        Fields fields = {{"to", to}, {"error", error}};
        if (noRoute) fields.emplace_back("hint", "with only lo up, use --broadcast-to 127.255.255.255");
        if (error != lastBroadcastError_) printer_->Event("BROADCAST_FAILED", fields);
        lastBroadcastError_ = error;
        return;
    }
    lastBroadcastError_.clear();
    if (!announce) {
        printer_->Event("SENT_DATAGRAM", {{"to", to}, {"bytes", HexOf(datagram)}});
    } else if (broadcastsSent_++ == 0 || config_.verbose) {
        uint32_t number = 0, length = 0;
        int headerLength = 0;
        ReadEnvelopeHeader(reinterpret_cast<const uint8_t*>(datagram.data()), static_cast<int32_t>(datagram.size()),
                           &number, &length, &headerLength);
        printer_->Envelope(Direction::kSent, RTCDISCOVER, datagram.substr(static_cast<size_t>(headerLength)));
    }
}

// The address the datagram leaves from, as the kernel would choose it for
// the broadcast target; the loopback address when it chooses none.
std::string RtcSimulator::AnnouncedIp() const {
    if (!config_.announceIp.empty()) return config_.announceIp;
    if (config_.listenAddress != "0.0.0.0") return config_.listenAddress;
    sockaddr_in target{};
    ToAddress(config_.broadcastTo, config_.broadcastPort, &target);
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    bool found = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 &&
                 connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0 &&
                 getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0;
    if (fd >= 0) close(fd);
    if (!found) return "127.0.0.1";
    std::string text = AddressText(local);
    return text.substr(0, text.find(':'));
}

// Only the first discovery datagram is printed, so their count comes apart.
void RtcSimulator::PrintStats() { printer_->Stats({{"broadcasts", std::to_string(broadcastsSent_)}}); }
