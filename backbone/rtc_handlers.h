// One handler per kind of message the RTC sends, found by envelope number.
// Handlers reach everything beyond the message through the context, so
// that each can be run alone.
#pragma once

#include <sys/time.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <vector>

class BackBoneIface;
class RtcSetReaderParameters;
class RFTagParametersInformation;

// What the handlers act on. Hooks left empty are skipped; link must be set.
struct RTCHandlerContext {
    BackBoneIface* link;
    // Stores the RTC's keep-alive interval (saved with the parameters).
    std::function<void(int seconds)> setKeepAliveInterval;
    // Shifts queued time stamps before the clock is set to newSeconds.
    std::function<void(long newSeconds)> updateDataTime;
    // Queues a ZemloMessageACK for the sender thread.
    std::function<void(uint64_t index)> queueAck;
    // Sets the system clock: 0, or -1 with errno.
    std::function<int(const timeval& time)> setClock;
    std::function<void(const RtcSetReaderParameters& params)> applyReaderParams;
    std::function<void(const RFTagParametersInformation& params)> applyTagParams;
    std::function<void(unsigned command)> handleCommand;
    // An RTC time before this, seconds since the epoch, is refused: no RTC
    // may throw the clock and the queued visit times back before the
    // program was built. 0 takes any time.
    long long clockFloorSeconds = 0;
    // The RTC has persisted the packages of these message indexes.
    std::function<void(const std::vector<uint64_t>& indexes)> persisted;
};

// The context the listener runs with: the link's and its queue's own
// operations, the RTC's commands, and setClock for the system's clock.
RTCHandlerContext MakeRTCHandlerContext(BackBoneIface& link, int (*setClock)(const timeval& time));

// The wall-clock time of the RTC's last acknowledgement of persisted data,
// 0 before the first: for the status file.
time_t LastPersistAckTime();

// Whether the RTC wants its messages acknowledged: set by each pairing
// acknowledgement (true when it names no protocol version).
extern std::atomic<bool> NeedToSendACK;

using RTCHandler = void (*)(const RTCHandlerContext& context, const uint8_t* message, uint32_t length);

// nullptr for an envelope number the reader does not handle.
RTCHandler FindRTCHandler(uint32_t number);
// Whether a handler exists: the stream skips the other envelopes unread.
bool HandlesRTCEnvelope(uint32_t number);
