// The simulated RTC's single poll() loop: the discovery broadcast, the
// listening socket, the reader's connection, the control FIFO and the
// script, all driven by one clock.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/rtcsim/rtc_commands.h"
#include "tools/rtcsim/rtc_messages.h"
#include "tools/rtcsim/rtc_printer.h"
#include "tools/rtcsim/rtc_stream.h"
#include "tools/subgsim/sim_control.h"

constexpr uint16_t kDiscoveryPort = 53000;
constexpr uint16_t kDefaultRtcPort = 53010;

struct RtcSimConfig {
    std::string listenAddress = "0.0.0.0";
    uint16_t tcpPort = kDefaultRtcPort;  // 0: any free port, printed at start
    std::string broadcastTo = "255.255.255.255";
    uint16_t broadcastPort = kDiscoveryPort;
    uint32_t broadcastEveryMs = 2000;      // 0: only on command
    uint32_t recvBufferBytes = 0;          // 0: the system's default
    std::string announceIp;                // empty: the address the datagram leaves from
    std::optional<uint32_t> announcePort;  // absent with announceListening false: no port
    bool announceListening = true;
    PairingAnswer pairing;
    bool answerPairing = true;
    bool answerData = true;
    // Whether our acknowledgements name the packages received; those in
    // withheldOnce are left out once each.
    bool persistData = true;
    std::multiset<uint64_t> withheldOnce;
    bool verbose = false;  // print every datagram sent, not only the first
    std::vector<RtcCommand> script;
    int controlFd = -1;
    std::optional<int> seconds;  // run until a signal when absent
};

class RtcSimulator {
public:
    using Clock = std::chrono::steady_clock;

    RtcSimulator(const RtcSimConfig& config, Printer* printer);
    ~RtcSimulator();
    RtcSimulator(const RtcSimulator&) = delete;
    RtcSimulator& operator=(const RtcSimulator&) = delete;

    // Opens the sockets; false, with the reason on stderr, when it cannot.
    bool Start();
    uint16_t Port() const { return boundPort_; }
    // Returns when the run time is up or *stop turns non-zero.
    void Run(const volatile std::sig_atomic_t* stop);

private:
    // Bytes for the reader, not to be written before `due`; the connection
    // is reset once the last of them is written when resetAfter is set.
    struct Chunk {
        std::string bytes;
        Clock::time_point due;
        bool resetAfter = false;
    };

    bool OpenListener();
    void CloseListener();
    void Pass(Clock::time_point now);
    void WaitForInput(Clock::time_point now, Clock::time_point end);
    Clock::time_point NextWake(Clock::time_point end) const;
    void Accept();
    void ReadReader();
    void HandleEnvelope(uint32_t number, const std::string& body);
    void CloseReader(const std::string& reason);
    void ReadControl();
    void RunControlLine(const LineSplitter::Line& line);
    void RunScript(Clock::time_point now);
    void Execute(const RtcCommand& cmd, Clock::time_point now);
    void ExecuteStreamCommand(const RtcCommand& cmd, Clock::time_point now);
    void ExecuteSetting(const RtcCommand& cmd, Clock::time_point now);
    // The bytes a stream command writes, each message with the next index.
    std::string StreamBytes(const RtcCommand& cmd);
    std::string Stamped(uint32_t number, const google::protobuf::Message& prototype);
    void PrintSent(const RtcCommand& cmd, const std::string& bytes);
    void PrintEnvelope(const std::string& envelope);
    void SendWhole(const std::string& envelope);
    void SendPersistAck(uint64_t index);
    // Whether the acknowledgement of package index is withheld (said in a
    // WITHHELD line).
    bool Withhold(uint64_t index);
    void StartFlood(const RtcCommand& cmd, Clock::time_point now);
    void TopUpFlood();
    void EndFlood(const char* event, const std::string& reason);
    void ResetReader(const std::string& reason);
    bool QueueBytes(const std::string& bytes, RtcCommand::Pacing pacing, uint32_t paceMs);
    void WriteDue(Clock::time_point now);
    void Broadcast();
    void SendDatagram(const std::string& datagram, bool announce);
    std::string AnnouncedIp() const;
    void PrintStats();

    RtcSimConfig config_;
    Printer* printer_;
    int listenFd_ = -1;
    int readerFd_ = -1;
    int udpFd_ = -1;
    uint16_t boundPort_ = 0;
    uint32_t acceptMode_ = kAcceptOn;
    EnvelopeCutter cutter_;
    std::deque<Chunk> out_;
    size_t outBytes_ = 0;
    bool writeBlocked_ = false;
    bool paused_ = false;
    Clock::time_point pauseUntil_ = Clock::time_point::max();
    uint64_t nextIndex_ = 1;  // message_header index of the messages we send
    RtcCommand flood_;
    uint64_t floodLeft_ = 0;
    uint64_t floodSent_ = 0;
    Clock::time_point broadcastDue_;
    uint64_t broadcastsSent_ = 0;
    std::string lastBroadcastError_;
    LineSplitter controlLines_;
    size_t scriptNext_ = 0;
    Clock::time_point scriptDue_;
};
