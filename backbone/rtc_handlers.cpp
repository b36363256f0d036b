// The handlers, their table and the context the listener gives them.
#include "backbone/rtc_handlers.h"

#include "platform/log.h"

#include <cerrno>
#include <cstring>
#include <exception>

#include "RtcAcknowledgePersistedTagData.pb.h"
#include "RtcClockSync.pb.h"
#include "RtcCommandToReader.pb.h"
#include "RtcPairingACK.pb.h"
#include "RtcSetReaderParameters.pb.h"
#include "RtcSetTagsParameters.pb.h"
#include "backbone/backbone_iface.h"
#include "backbone/envelope.h"
#include "backbone/messages.h"
#include "backbone/msg_queue.h"
#include "backbone/rtc_command.h"
#include "params/build_time.h"
#include "platform/clock.h"

std::atomic<bool> NeedToSendACK{false};

namespace {

std::atomic<time_t> LastPersistAck{0};

// Every handler's guard: an exception of the message library ends the
// handling, logged after the message's kind (tag, "" for none).
template <typename Handle>
void Guarded(const char* tag, Handle handle) {
    try {
        handle();
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "RTCListener: %scaught an exception (%s)", tag, e.what());
    }
}

void QueueRTCAck(const RTCHandlerContext& context, uint64_t index) {
    if (NeedToSendACK && context.queueAck) context.queueAck(index);
}

// A message the RTC may want acknowledged: one that does not parse is
// ignored (logged with kind); act runs on one that does and, unless it
// refuses the message, the acknowledgement is queued. An exception leaves
// it unacknowledged.
template <typename Message>
void ParseActAcknowledge(const RTCHandlerContext& context, const char* kind, const char* tag, const uint8_t* bytes,
                         uint32_t length, bool (*act)(const RTCHandlerContext&, const Message&)) {
    Guarded(tag, [&] {
        Message message;
        if (!message.ParseFromArray(bytes, static_cast<int>(length))) {
            LogLine(LOG_INFO, "RTCListener: (%s) the message does not parse, ignored", kind);
            return;
        }
        if (act(context, message)) QueueRTCAck(context, message.message_header().message_index());
    });
}

// Shifts the queue onto the RTC's time and sets the clock; a failure to set
// it is logged and otherwise harmless.
void ApplyRTCTime(const RTCHandlerContext& context, uint64_t rtcMillis) {
    timeval time{};
    if (!TimevalFromMillis(rtcMillis, &time)) {
        LogLine(LOG_ERR, "RTCListener: RTC time %llu ms is beyond this system's clock, clock left as it is",
               static_cast<unsigned long long>(rtcMillis));
        return;
    }
    if (time.tv_sec < context.clockFloorSeconds) {
        LogLine(LOG_ERR, "RTCListener: RTC time %llu ms predates this program, clock and queued times left as they are",
               static_cast<unsigned long long>(rtcMillis));
        return;
    }
    if (context.updateDataTime) context.updateDataTime(static_cast<long>(time.tv_sec));
    // Without the right to set the time (a sandbox, a container) this fails
    // every time; the link carries on regardless.
    if (context.setClock && context.setClock(time) != 0)
        LogLine(LOG_ERR, "RTCListener:  Failed on settimeofday (%s)", strerror(errno));
}

void HandlePairAck(const RTCHandlerContext& context, const uint8_t* message, uint32_t length) {
    LogLine(LOG_DEBUG, "RTCListener: Received RTCPAIRACK");
    Guarded("(Pair ACK) ", [&] {
        RtcPairingACK ack;
        // Whatever parsed is used: the pairing completes regardless.
        ack.ParseFromArray(message, static_cast<int>(length));
        if (ack.has_keep_alive_interval_seconds() && context.setKeepAliveInterval)
            context.setKeepAliveInterval(KeepAliveWithinBounds(ack.keep_alive_interval_seconds(), "RTCListener"));
        // An RTC that names its protocol version does without our
        // acknowledgements.
        NeedToSendACK = !ack.has_protocolversion();
        if (ack.has_rtc_timestamp())
            ApplyRTCTime(context, ack.rtc_timestamp());
        else
            LogLine(LOG_INFO, "RTCListener: pairing acknowledgement without a time, clock left as it is");
        context.link->SetPaired(true);
    });
}

// The RTC has stored the packages it names: they leave the queue. Only a
// message that parses names any; the acknowledgement of the message goes
// back in any case.
void HandlePersistAck(const RTCHandlerContext& context, const uint8_t* message, uint32_t length) {
    LogLine(LOG_DEBUG, "RTCListener: Received RTCPERSISTACK");
    Guarded("(Persist ACK) ", [&] {
        RtcAcknowledgePersistedTagData persisted;
        const bool parsed = persisted.ParseFromArray(message, static_cast<int>(length));
        if (parsed) LastPersistAck = NowSeconds();
        if (parsed && context.persisted && persisted.persisted_message_numbers_size() > 0) {
            const auto& numbers = persisted.persisted_message_numbers();
            context.persisted({numbers.begin(), numbers.end()});
        }
        QueueRTCAck(context, persisted.message_header().message_index());
    });
}

bool ApplyReaderParams(const RTCHandlerContext& context, const RtcSetReaderParameters& params) {
    if (context.applyReaderParams) context.applyReaderParams(params);
    return true;
}

void HandleReaderParams(const RTCHandlerContext& context, const uint8_t* message, uint32_t length) {
    LogLine(LOG_DEBUG, "RTCListener: Received RTCSETREADERPARAM");
    ParseActAcknowledge(context, "Reader params", "(Reader params) ", message, length, ApplyReaderParams);
}

// Only the first entry is applied; its tag list and further entries are
// not used. A message without one is refused the way the RTC's tools know
// it: as the failed check of taking the first entry.
bool ApplyTagParams(const RTCHandlerContext& context, const RtcSetTagsParameters& params) {
    if (params.tags_params_info_size() == 0) {
        LogLine(LOG_ERR, "RTCListener: (Tag params) caught an exception (%s)", "CHECK failed: (index) < (size()): ");
        return false;
    }
    if (context.applyTagParams) context.applyTagParams(params.tags_params_info(0).tag_params_info());
    return true;
}

void HandleTagParams(const RTCHandlerContext& context, const uint8_t* message, uint32_t length) {
    LogLine(LOG_DEBUG, "RTCListener: Received RTCSETTAGPARAM");
    ParseActAcknowledge(context, "Tag params", "(Tag params) ", message, length, ApplyTagParams);
}

bool ApplyCommand(const RTCHandlerContext& context, const RtcCommandToReader& command) {
    if (context.handleCommand) context.handleCommand(static_cast<unsigned>(command.command()));
    return true;
}

// An exception's line names no kind for a command.
void HandleCommand(const RTCHandlerContext& context, const uint8_t* message, uint32_t length) {
    LogLine(LOG_DEBUG, "RTCListener: Received RTCCOMMAND_FIELDNUM");
    ParseActAcknowledge(context, "Command", "", message, length, ApplyCommand);
}

// Not acknowledged: the message carries no index.
void HandleClockSync(const RTCHandlerContext& context, const uint8_t* message, uint32_t length) {
    LogLine(LOG_DEBUG, "RTCListener: Received RtcClockSync");
    Guarded("(clock sync) ", [&] {
        RtcClockSync sync;
        sync.ParseFromArray(message, static_cast<int>(length));
        if (sync.has_rtc_timestamp())
            ApplyRTCTime(context, sync.rtc_timestamp());
        else
            LogLine(LOG_INFO, "RTCListener: clock sync without a time, clock left as it is");
    });
}

}  // namespace

time_t LastPersistAckTime() { return LastPersistAck; }

RTCHandlerContext MakeRTCHandlerContext(BackBoneIface& link, int (*setClock)(const timeval& time)) {
    OutgoingQueue& queue = link.Queue();
    RTCHandlerContext context{};
    context.link = &link;
    context.setKeepAliveInterval = [&link](int seconds) { link.SetKeepAliveInterval(seconds); };
    context.updateDataTime = [&queue](long newSeconds) { queue.UpdateDataTime(newSeconds); };
    context.queueAck = [&queue](uint64_t index) { queue.AddAckWaiting(index); };
    context.setClock = setClock;
    context.applyReaderParams = [&link](const RtcSetReaderParameters& params) { link.ParseReaderParams(params); };
    context.applyTagParams = [&link](const RFTagParametersInformation& params) { link.ParseTagParams(params); };
    context.handleCommand = HandleRtcCommand;
    context.clockFloorSeconds = kBuildEpochSeconds;
    context.persisted = [&queue](const std::vector<uint64_t>& indexes) { queue.Persisted(indexes); };
    return context;
}

RTCHandler FindRTCHandler(uint32_t number) {
    static const struct {
        uint32_t number;
        RTCHandler handler;
    } kHandlers[] = {
        {RTCPAIRACK, HandlePairAck},          {RTCPERSISTACK, HandlePersistAck},
        {RTCSETREADERPARAM, HandleReaderParams}, {RTCSETTAGPARAM, HandleTagParams},
        {RTCCOMMAND_FIELDNUM, HandleCommand}, {RTCCLOCKSYNC, HandleClockSync},
    };
    for (const auto& entry : kHandlers)
        if (entry.number == number) return entry.handler;
    return nullptr;
}

bool HandlesRTCEnvelope(uint32_t number) { return FindRTCHandler(number) != nullptr; }
