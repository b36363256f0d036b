// One handler per kind of message the RTC sends, found by envelope number.
// Handlers reach everything beyond the message through the context, so
// that each can be run alone.
#pragma once

#include <sys/time.h>

#include <atomic>
#include <cstdint>
#include <ctime>

class BackBoneIface;
class RtcSetReaderParameters;
class RFTagParametersInformation;

// What the handlers act on. Hooks left null are skipped; link must be set.
struct RTCHandlerContext {
    BackBoneIface* link;
    // Stores the RTC's keep-alive interval (saved with the parameters).
    void (*setKeepAliveInterval)(int seconds);
    // Shifts queued time stamps before the clock is set to newSeconds.
    void (*updateDataTime)(long newSeconds);
    // Queues a ZemloMessageACK for the sender thread.
    void (*queueAck)(uint64_t index);
    // Sets the system clock: 0, or -1 with errno.
    int (*setClock)(const timeval& time);
    void (*applyReaderParams)(const RtcSetReaderParameters& params);
    void (*applyTagParams)(const RFTagParametersInformation& params);
    void (*handleCommand)(unsigned command);
    // An RTC time before this, seconds since the epoch, is refused: no RTC
    // may throw the clock and the queued visit times back before the
    // program was built. 0 takes any time.
    long long clockFloorSeconds;
};

// Whether the RTC wants its messages acknowledged: set by each pairing
// acknowledgement (true when it names no protocol version).
extern std::atomic<bool> NeedToSendACK;

using RTCHandler = void (*)(const RTCHandlerContext& context, const uint8_t* message, uint32_t length);

// nullptr for an envelope number the reader does not handle.
RTCHandler FindRTCHandler(uint32_t number);
// Whether a handler exists: the stream skips the other envelopes unread.
bool HandlesRTCEnvelope(uint32_t number);

void HandlePairAck(const RTCHandlerContext& context, const uint8_t* message, uint32_t length);
void HandlePersistAck(const RTCHandlerContext& context, const uint8_t* message, uint32_t length);
void HandleReaderParams(const RTCHandlerContext& context, const uint8_t* message, uint32_t length);
void HandleTagParams(const RTCHandlerContext& context, const uint8_t* message, uint32_t length);
void HandleCommand(const RTCHandlerContext& context, const uint8_t* message, uint32_t length);
void HandleClockSync(const RTCHandlerContext& context, const uint8_t* message, uint32_t length);

// The wall-clock time of the RTC's last acknowledgement of persisted data,
// 0 before the first: for the status file.
time_t LastPersistAckTime();

// Shared by the handlers.
// Queues the acknowledgement of an RTC message when the RTC wants one.
void QueueRTCAck(const RTCHandlerContext& context, uint64_t index);
// Shifts the queue onto the RTC's time and sets the clock; a failure to set
// it, or a time before the floor, is logged and otherwise harmless.
void ApplyRTCTime(const RTCHandlerContext& context, uint64_t rtcMillis);
