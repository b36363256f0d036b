// BackBoneIface: the one object that owns the link to the RTC. Its methods
// live by concern: rtc_link.cpp (state machine, TCP socket, send and
// receive, counters), discovery.cpp (broadcasts and RTCList),
// reader_pack.cpp (the package being assembled, its hand-over to the queue
// and its write to the RTC), keep_alive.cpp (keep-alives and survey
// progress), reader_reports.cpp (diagnostics, parameters and survey
// reports), reader_params.cpp (parameters from the RTC).
//
// Locks, always taken in this order, none held while another thread is
// waited for: RTCListMutex, then RTCSendMutex, then RTCCommStateMutex.
// ReaderPackMutex may be followed by RTCMsgQMutex (the hand-over to the
// queue) and by nothing else. Nothing is taken while SurveyProgressMutex
// is held.
//
// The TCP socket's lifetime: the listener thread opens it and blocks in a
// wait on it, while any thread may drop the link. A drop therefore only
// shuts the socket down (the waiting listener and any writer wake up and
// fail) and marks it dropped; the descriptor stays open, so its number
// cannot be reused under a thread that still holds it. The listener thread
// alone closes it, in CloseDroppedSocket at the top of each pass, holding
// RTCSendMutex and RTCCommStateMutex. TCPSocketFD changes only there and in
// OpenRTCClientSocket, under both locks.
#pragma once

#include <sys/time.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

#include "RFTagParametersInformation.pb.h"
#include "RtcSetReaderParameters.pb.h"
#include "ZemloChannelSurveyProgressUpdate.pb.h"
#include "ZemloReaderDataPackage.pb.h"
#include "backbone/link_state.h"
#include "backbone/rtc_allow_list.h"
#include "tags/tag_decode.h"

constexpr int kDiscoveryPort = 53000;
constexpr int kListenGoesOn = 1;  // ListenForPairing: a quiet slice within the window
constexpr char kRTCAddressFile[] = "./RTC_IP_Adress.txt";

// Guards RTCList.
extern std::mutex RTCListMutex;
// Guards RTCCommState and the closing of TCPSocketFD.
extern std::mutex RTCCommStateMutex;
// Guards ReaderPack, ReaderPackSize, ReaderPackUnjournaledMicros and NextMsgIndex.
extern std::mutex ReaderPackMutex;
// Guards SurveyProgress. The survey hands its progress over from the serial
// parser, under the link's locks, while the backbone may hold
// ReaderPackMutex for as long as a save holds the queue: so the progress
// has this lock of its own, held only to copy it, with no other taken.
extern std::mutex SurveyProgressMutex;

// The keep-alive interval an RTC may set, seconds: one beyond it would
// leave the link without keep-alives, and the queue without its pacing.
constexpr uint32_t kMinKeepAliveSeconds = 1;
constexpr uint32_t kMaxKeepAliveSeconds = 3600;
// An RTC's keep-alive interval brought within those bounds; one outside is
// logged, with caller first.
int KeepAliveWithinBounds(uint32_t seconds, const char* caller);

struct RTCEndpoint {
    char address[16];  // dotted IPv4, compared over all 16 bytes
    uint16_t port;
};

class OutgoingQueue;

class BackBoneIface {
public:
    // The link hands the packages it assembles to queue, which outlives it.
    explicit BackBoneIface(OutgoingQueue& queue);
    ~BackBoneIface();
    BackBoneIface(const BackBoneIface&) = delete;
    BackBoneIface& operator=(const BackBoneIface&) = delete;

    // --- link (rtc_link.cpp) ---
    eRTCCommState GetRTCCommState();
    // The RTC of the current or last connection; an empty address before
    // the first.
    RTCEndpoint GetRTCEndpoint();
    // 0 drops the link: the socket is shut down (the listener closes it),
    // KeepAlive becomes -1, and the state falls back to RTC_DISCOVERED
    // while endpoints are listed, else RTC_IDLE.
    void SetRTCCommState(eRTCCommState state);
    void SetPaired(bool paired);
    bool IsPaired();
    // Counts the paired connections since the start: 1 for the first, and
    // one more at each pairing of a new connection.
    uint64_t PairedConnection() const { return PairedConnectionCount.load(); }
    // Listener thread only: connects to the first listed endpoint.
    int OpenRTCClientSocket();
    // Listener thread only: closes a socket that a drop has shut down.
    void CloseDroppedSocket();
    int SendPairingMsg();
    int SendMsgACK(unsigned long long index);
    // Writes one whole envelope while paired (the pairing message: while
    // connected). True only when every byte went out; a write that cannot
    // complete within a bounded wait drops the link, so no stream ever
    // holds half an envelope followed by anything else.
    bool SendToRTC(const std::string& envelope);
    // Listener thread only. Waits up to twice the keep-alive interval (10 s
    // while it is unknown); a time-out or the end of the stream drops the
    // link. Bytes received, or -1.
    int ReadRTCData(char* buffer, int length);
    // EPIPE or ECONNRESET on a write: the RTC has gone.
    void HandleSigPipe();
    void UpdateDisConnectTime(unsigned long long seconds);
    void SaveRTCIPaddressToFile();
    void SetReaderId(uint64_t id);
    timeval GetLastSendTime();
    unsigned long long GetNotPairedSeconds();
    unsigned long long GetNoSocketSeconds();

    // --- discovery (discovery.cpp) ---
    // Listens on the discovery port, or on a socket already opened with
    // OpenListeningSocket, for at most sliceMillis of a window of 5 s: 0
    // when a datagram was handled, kListenGoesOn when the slice passed
    // quietly within the window, -1 when the window ended silent (the
    // socket is closed) or listening failed. The slices let the caller
    // take the records that come meanwhile.
    int ListenForPairing(int sliceMillis);
    int OpenListeningSocket(int port);
    // Backbone thread, before it listens: the RTCs whose announcements are
    // taken; empty, every RTC's.
    void ListenOnlyTo(const RTCAllowList& list);
    size_t RTCListSize() const { return RTCListCount.load(); }

    // --- keep-alive (keep_alive.cpp) ---
    // KeepAlive of the working parameters, seconds; -1 after a drop.
    void SetKeepAliveInterval(int seconds);
    int GetKeepAliveInterval();
    // Writes the pending survey progress update, else a keep-alive, while
    // paired. Bytes written, 0 when nothing was.
    int FlushKeepAlive();

    // --- the package being assembled (reader_pack.cpp) ---
    // The queue its packages go to, for the threads that drain and save it.
    OutgoingQueue& Queue() const { return Outgoing; }
    // Stamps the package with the next message index and the time, queues
    // it and starts an empty one, whatever it held.
    void EmptyReaderPack();
    // Hands the package over when it holds an entry that has waited micros
    // or longer (monotonic) and is in no copy in the journal: while the RTC
    // is away this bounds how long a record waits before it reaches the
    // backup. True when it did.
    bool HandOverOlderThan(long long micros);
    // The same bound while the RTC is paired, where the package waits to
    // be full or a keep-alive interval and its hand-over paces the sender:
    // a copy of the package goes to the journal instead. True when it did.
    bool JournalCopyOlderThan(long long micros);
    // Writes a copy of a queued package, stamped for sending, while paired
    // on the given connection (PairedConnection). Bytes written when all of
    // them went out, else 0.
    int FlushReaderPack(ZemloReaderDataPackage package, uint64_t connection);
    // Takes package as the one being assembled when that is empty: 1, else 0.
    int AddNewReaderPackData(const ZemloReaderDataPackage& package);
    int GetReaderPackSize();
    // The indices of a reloaded backup stay taken: new packages continue
    // above the highest.
    void ContinueMsgIndexAbove(uint64_t index);

    // A tag record becomes one entry of the package; a package grown past
    // its size is handed over to the queue. Returns the package's size
    // afterwards, 0 after a hand-over or a failure.
    int AddTagRecord(const TimedSubGMsg& record);
    // The CSV trace of written packages, only while PrintReaderData is 1:
    // the constructor opens the file, every package written is traced.
    void OpenReaderDataPackFile();
    void PrintReaderDataPack(const ZemloReaderDataPackage& package);

    // --- reports (reader_reports.cpp), backbone thread unless said ---
    // Puts the diagnostics, with the reset count, into the package and
    // writes their line to the ReaderDiag CSV log.
    void UpdateReaderDiag(ZemloReaderDiagnosticsInformation diag);
    void OpenReaderDiagFile();
    // Puts the parameters report with its version block into the package.
    void UpdateParams();
    void UpdateChannScan(const ZemloChannelSurveyResults& results);
    // The survey's progress, sent with the next write; any thread, any
    // lock held: it waits on nothing but SurveyProgressMutex.
    void UpdateChannScanProgress(unsigned channelNumber, unsigned channelScanProgress, unsigned surveyProgress,
                                 unsigned totalChannels);

    // --- parameters from the RTC (reader_params.cpp), listener thread ---
    void ParseReaderParams(const RtcSetReaderParameters& msg);
    void ParseTagParams(const RFTagParametersInformation& info);

private:
    void HandOverLocked();
    bool SurveyProgressPending();
    // Moves a pending progress update into out; false when none is pending.
    bool TakeSurveyProgress(ZemloChannelSurveyProgressUpdate* out);
    void RecountReaderPackLocked();
    // After an entry joined the package.
    void NoteUnjournaledLocked();
    bool HoldsUnjournaledOlderThanLocked(long long micros) const;
    // Writes the envelope whole while the state is `required` and, unless
    // connection is 0, the paired connection is that one.
    bool SendWhile(eRTCCommState required, const std::string& envelope, uint64_t connection = 0);
    // A drop on a write that could not complete.
    void DropAfterFailedWrite();
    int FailConnect(const char* text);
    bool GetServerAddr(int length, unsigned short* port);
    void AddEndpoint(const char* address, uint16_t port);
    void NoteIgnoredRTC(const char* address, uint16_t port);
    void CloseListeningSocket();
    // Logs text with the system's text for errno.
    static void error(const char* text);

    // Link (RTCCommStateMutex).
    eRTCCommState RTCCommState = RTC_IDLE;
    // Read without a lock only to test for -1; see the lifetime rule above.
    std::atomic<int> TCPSocketFD{-1};
    bool SocketDropped = false;  // shut down, waiting for CloseDroppedSocket
    std::atomic<uint64_t> PairedConnectionCount{0};  // changed under RTCCommStateMutex
    char RTCIPAddress[16] = {};
    uint16_t RTCPort = 0;
    std::atomic<uint64_t> ReaderId{1};
    std::atomic<long long> LastSendMicros{0};
    std::atomic<unsigned long long> NotPairedSeconds{0};
    std::atomic<unsigned long long> NoSocketSeconds{0};

    // Discovery: the backbone thread alone, but RTCList (RTCListMutex).
    int UDPSocketFD = -1;
    uint8_t RxBuf[1024] = {};
    std::deque<RTCEndpoint> RTCList;
    std::atomic<size_t> RTCListCount{0};
    int SearchLogCount = 16;
    long long ListenWindowEndMicros = 0;  // monotonic; 0 between windows
    RTCAllowList AllowedRTCs;
    IgnoredRTCNotices IgnoredRTCs;

    OutgoingQueue& Outgoing;
    // Package (ReaderPackMutex).
    ZemloReaderDataPackage ReaderPack;
    int ReaderPackSize = 0;
    // Monotonic: when the oldest entry that no copy in the journal holds
    // joined the package; 0 when there is none.
    long long ReaderPackUnjournaledMicros = 0;
    uint64_t NextMsgIndex = 1;
    // SurveyProgressMutex.
    ZemloChannelSurveyProgressUpdate SurveyProgress;

    // The trace (its own lock in reader_pack.cpp); open for the life of the
    // process once opened.
    FILE* ReaderDataPackFile = nullptr;

    // The ReaderDiag CSV log: the backbone thread's own, opened once.
    FILE* ReaderDiagFile = nullptr;
    bool ReaderDiagFileTried = false;
};
