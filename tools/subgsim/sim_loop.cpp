#include "tools/subgsim/sim_loop.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "subg/opcodes.h"
#include "tools/subgsim/sim_tag_traffic.h"
#include "tools/subgsim/sim_tags.h"

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kGpioPollPeriod{2};
constexpr size_t kReadChunk = 512;
constexpr size_t kMaxQueuedOutput = 64 * 1024;
// Reads of the control FIFO per pass, so that a flood cannot starve the line.
constexpr int kControlReadsPerPass = 8;
// A stream catches up at most this many frames in one pass; it gives up
// what it missed long before that.
constexpr int kMaxRateFramesPerPass = 128;
constexpr int kRoutineTagRecords = 1;  // its one activity report
constexpr milliseconds kSurveyReadingPeriod{1};

timespec ToTimespec(std::chrono::nanoseconds wait) {
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((wait - seconds).count())};
}

}  // namespace

Simulator::Simulator(int masterFd, const SimConfig& config, EventLog* events)
    : master_(masterFd),
      config_(config),
      events_(events),
      board_(config.version, config.initialState),
      resetLine_(config.gpioValuePath),
      scriptDue_(Clock::now()),
      tagDue_(Clock::now() + milliseconds(config.tagsEveryMs)),
      rate_(StartRate(config.tagRate, Clock::now())),
      rateFirstTag_(config.tagId) {}

void Simulator::Run(const volatile std::sig_atomic_t* stop) {
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = config_.seconds ? start + std::chrono::seconds(*config_.seconds)
                                                  : Clock::time_point::max();
    nextGpioPoll_ = start;
    NoteState();
    while (!*stop) {
        Clock::time_point now = Clock::now();
        if (now >= end) break;
        PollResetLine(now);
        SendDueReplies(now);
        SendDueTag(now);
        SendDueRateTags(now);
        SendDueSurveyReading(now);
        RunScript(now);
        WriteOut();
        WaitForInput(now, NextWake(now, end));
    }
    WriteOut();
    RecordStats();
}

// The reset line is polled every few milliseconds, so no wait is longer.
Simulator::Clock::time_point Simulator::NextWake(Clock::time_point now, Clock::time_point end) const {
    Clock::time_point wake = std::min(end, std::max(nextGpioPoll_, now));
    if (!pending_.empty()) wake = std::min(wake, pending_.front().due);
    if (!held_ && scriptNext_ < config_.script.size()) wake = std::min(wake, scriptDue_);
    if (Running() && config_.tagsEveryMs > 0) wake = std::min(wake, tagDue_);
    if (Running() && rate_.perSecond > 0) wake = std::min(wake, NextDue(rate_));
    if (Running() && board_.Surveying()) wake = std::min(wake, surveyDue_);
    return wake;
}

// A stream of hundreds of frames a second needs waits finer than a millisecond.
void Simulator::WaitForInput(Clock::time_point now, Clock::time_point wake) {
    timespec timeout = ToTimespec(std::max(wake - now, Clock::duration::zero()));
    // Output waiting for room needs no wake of its own: the reset line's
    // polling brings the loop round often enough.
    pollfd pfds[2] = {{masterQuiet_ ? -1 : master_, POLLIN, 0}, {config_.controlFd, POLLIN, 0}};
    masterQuiet_ = false;
    if (ppoll(pfds, 2, &timeout, nullptr) <= 0) return;
    if (pfds[0].revents & (POLLIN | POLLHUP | POLLERR)) ReadHost(Clock::now());
    if (pfds[1].revents & POLLIN) ReadControl(Clock::now());
}

void Simulator::PollResetLine(Clock::time_point now) {
    if (now < nextGpioPoll_) return;
    nextGpioPoll_ = now + kGpioPollPeriod;
    std::optional<bool> level = resetLine_.Poll();
    if (!level) return;
    if (!*level && !held_) HoldInReset(now);
    if (*level && held_) Boot(now);
}

// A board in reset has lost whatever it was about to say or had half heard.
void Simulator::HoldInReset(Clock::time_point now) {
    held_ = true;
    lowSince_ = now;
    loader_.HeldInReset();
    cutter_.Clear();
    pending_.clear();
    board_.Survey()->Stop();
    DropOutput();
    scriptLeftWhenHeld_ = std::max(scriptDue_ - now, Clock::duration::zero());
    events_->ResetLow();
}

// The board's settings live in flash and come through the reset as they were;
// an image the loader activated runs from now on.
void Simulator::Boot(Clock::time_point now) {
    held_ = false;
    loader_.Booted(now);
    const ActivatedImages activated = loader_.TakeActivated();
    if (activated.application) board_.RunApplication(*activated.application);
    if (activated.bootLoader) board_.RunBootLoader(*activated.bootLoader);
    scriptDue_ = now + scriptLeftWhenHeld_;
    auto lowMs = std::chrono::duration<double, std::milli>(now - lowSince_).count();
    events_->ResetHigh(std::lround(lowMs));
}

void Simulator::ReadHost(Clock::time_point now) {
    uint8_t bytes[kReadChunk];
    ssize_t n = read(master_, bytes, sizeof bytes);
    if (n <= 0) {
        // EIO while no one holds the port open, EAGAIN on a spurious wake:
        // both only mean there is nothing to read right now.
        masterQuiet_ = !(n < 0 && errno == EINTR);
        return;
    }
    // The host writes as soon as it has released the line: look at the
    // line before taking the bytes for lost.
    if (held_) {
        nextGpioPoll_ = now;
        PollResetLine(now);
    }
    if (held_) {
        events_->Ignored(static_cast<size_t>(n));
        return;
    }
    std::vector<uint8_t> pushedOut = cutter_.Append(bytes, static_cast<size_t>(n));
    if (!pushedOut.empty()) events_->Bad(pushedOut);
    CutFrames(now);
}

// A silent board acts on nothing; an opcode it never answers is still acted on.
void Simulator::CutFrames(Clock::time_point now) {
    // Each round consumes bytes, so the buffer's size bounds the rounds.
    for (size_t round = 0; round <= FrameCutter::kCapacity; ++round) {
        FrameCutter::Cut cut = cutter_.Next();
        if (!cut.bad.empty()) events_->Bad(cut.bad);
        if (!cut.hasFrame) return;
        events_->HostFrame(cut.frame, cut.wire);
        if (config_.silent) continue;
        const bool surveying = board_.Surveying();
        std::optional<T7734FrameReply> reply = AnswerHost(cut.frame, now);
        if (!surveying && board_.Surveying()) surveyDue_ = now + kSurveyReadingPeriod;
        NoteState();
        if (reply && !never_.test(cut.frame.opcode)) {
            pending_.push_back({now + milliseconds(config_.replyDelayMs), *reply});
        }
    }
}

// While the board sits in its boot loader or ROM, the application hears nothing.
std::optional<T7734FrameReply> Simulator::AnswerHost(const T7734FrameRequest& frame, Clock::time_point now) {
    if (!loader_.Takes(frame)) return board_.Answer(frame);
    std::string event;
    std::optional<T7734FrameReply> reply = loader_.Answer(frame, now, &event);
    if (!event.empty()) events_->Loader(event);
    return reply;
}

void Simulator::SendDueReplies(Clock::time_point now) {
    while (!pending_.empty() && pending_.front().due <= now) {
        SendReply(pending_.front().frame);
        pending_.pop_front();
    }
}

// A loop that fell behind sends one message, not a burst.
void Simulator::SendDueTag(Clock::time_point now) {
    if (!Running() || config_.tagsEveryMs == 0 || now < tagDue_) return;
    SendTag({TagMessageWire(RoutineTagMessage(config_.tagId, tagSeq_++)), kRoutineTagRecords});
    tagDue_ += milliseconds(config_.tagsEveryMs);
    if (tagDue_ <= now) tagDue_ = now + milliseconds(config_.tagsEveryMs);
}

void Simulator::SendDueRateTags(Clock::time_point now) {
    for (int i = 0; i < kMaxRateFramesPerPass && Running() && rate_.perSecond > 0 && NextDue(rate_) <= now; ++i) {
        SendTag(StreamTagMessage(rateFirstTag_, rateIndex_++));
        AdvanceRate(&rate_, now);
    }
}

// A loop that fell behind sends one reading, not a burst.
void Simulator::SendDueSurveyReading(Clock::time_point now) {
    SimSurvey* survey = board_.Survey();
    if (held_ || !survey->Running() || now < surveyDue_) return;
    const auto data = survey->NextReading();
    SendReply(MakeReply(SubGOp::SetFreq, data.data(), data.size()));
    surveyDue_ = std::max(surveyDue_ + kSurveyReadingPeriod, now);
}

void Simulator::RunScript(Clock::time_point now) {
    while (!held_ && scriptNext_ < config_.script.size() && scriptDue_ <= now) {
        Execute(config_.script[scriptNext_++], now);
    }
}

void Simulator::ReadControl(Clock::time_point now) {
    for (int i = 0; i < kControlReadsPerPass; ++i) {
        char bytes[kReadChunk];
        ssize_t n = read(config_.controlFd, bytes, sizeof bytes);
        if (n <= 0) return;
        for (const LineSplitter::Line& line : controlLines_.Feed(bytes, static_cast<size_t>(n))) {
            RunControlLine(line, now);
        }
    }
}

void Simulator::RunControlLine(const LineSplitter::Line& line, Clock::time_point now) {
    std::string text = PrintableLine(line.text);
    if (line.tooLong) {
        events_->ControlError("line longer than " + std::to_string(LineSplitter::kMaxLine) + " bytes");
        return;
    }
    ScriptCommand cmd;
    bool isCommand = false;
    std::string error = ParseCommandLine(line.text, &cmd, &isCommand);
    if (error.empty() && isCommand && cmd.kind == ScriptCommand::Kind::Sleep) {
        error = "sleep only works in a script";
    }
    if (!error.empty()) {
        events_->ControlError(text + ": " + error);
        return;
    }
    if (!isCommand) return;
    events_->Control(text);
    Execute(cmd, now);
}

void Simulator::Execute(const ScriptCommand& cmd, Clock::time_point now) {
    using Kind = ScriptCommand::Kind;
    switch (cmd.kind) {
        case Kind::Sleep: scriptDue_ = now + milliseconds(cmd.number); break;
        case Kind::Send:
            Queue(cmd.bytes.data(), cmd.bytes.size());
            events_->RawSent(cmd.bytes);
            break;
        case Kind::Reply: SendReply(MakeReply(cmd.opcode, cmd.bytes.data(), cmd.bytes.size())); break;
        case Kind::Silent: config_.silent = cmd.number != 0; break;
        case Kind::Tags: StartTags(cmd, now); break;
        case Kind::Tag: SendTag(KindsTagMessage(*cmd.tagId, cmd.seq, cmd.delayCount, cmd.subMsgs)); break;
        case Kind::BadTag:
            events_->BadTag(MalformedKindName(cmd.malformed), *cmd.tagId, cmd.seq);
            SendTag(MalformedTagMessage(cmd.malformed, *cmd.tagId, cmd.seq));
            break;
        case Kind::TagRate: StartTagRate(cmd, now); break;
        case Kind::Stats: RecordStats(); break;
        case Kind::Diag: SendReply(board_.Diagnostics()); break;
        case Kind::Loader: loader_.Apply(cmd.loader); break;
        case Kind::Delay: config_.replyDelayMs = static_cast<int>(cmd.number); break;
        case Kind::Never: never_.set(cmd.opcode); break;
        case Kind::Answer: never_.reset(cmd.opcode); break;
        default: ChangeBoard(cmd); break;
    }
}

void Simulator::ChangeBoard(const ScriptCommand& cmd) {
    using Kind = ScriptCommand::Kind;
    BoardState* state = board_.MutableState();
    if (cmd.kind == Kind::ForgetFreq) ForgetFrequency(state, static_cast<int>(cmd.number));
    if (cmd.kind == Kind::ForgetSteady) ForgetSteadyState(state);
    if (cmd.kind == Kind::ForgetAll) ForgetAll(state);
    if (cmd.kind == Kind::ParamCheck) state->paramCheck = static_cast<uint8_t>(cmd.number);
    NoteState();
}

void Simulator::StartTags(const ScriptCommand& cmd, Clock::time_point now) {
    config_.tagsEveryMs = cmd.number;
    if (cmd.tagId) config_.tagId = *cmd.tagId;
    tagDue_ = now + milliseconds(cmd.number);
}

// The stream's sequence numbers go on where they were, as a tag's would.
void Simulator::StartTagRate(const ScriptCommand& cmd, Clock::time_point now) {
    rate_ = StartRate(cmd.number, now);
    if (cmd.tagId) rateFirstTag_ = *cmd.tagId;
}

// Recorded as a frame when it is one, else as the raw bytes it is.
void Simulator::SendTag(const TagTraffic& traffic) {
    if (traffic.wire.empty() || !Enqueue(traffic.wire.data(), traffic.wire.size())) return;
    queuedTags_.push_back({bytesQueued_, traffic.records});
    T7734FrameReply frame{};
    int n = ReplyFromWire(traffic.wire.data(), traffic.wire.size(), &frame);
    if (n == static_cast<int>(traffic.wire.size())) {
        events_->BoardReply(frame, traffic.wire.data(), traffic.wire.size());
    } else {
        events_->RawSent(traffic.wire);
    }
    WriteOut();
}

void Simulator::RecordStats() { events_->Stats(tagsSent_, recordsSent_); }

void Simulator::NoteState() {
    std::string body = RecordBody::State(board_.State());
    if (body == lastState_) return;
    lastState_ = body;
    events_->StateChanged(board_.State());
}

void Simulator::SendReply(const T7734FrameReply& frame) {
    uint8_t wire[kMaxFrameLen];
    size_t n = ReplyToWire(frame, wire, sizeof wire);
    Queue(wire, n);
    events_->BoardReply(frame, wire, n);
}

void Simulator::Queue(const uint8_t* bytes, size_t n) {
    if (Enqueue(bytes, n)) WriteOut();
}

// Said once for each spell in which the host reads nothing.
bool Simulator::Enqueue(const uint8_t* bytes, size_t n) {
    if (out_.size() + n > kMaxQueuedOutput) {
        if (!dropping_) std::fputs("subgsim: the host reads nothing, output dropped until it does\n", stderr);
        dropping_ = true;
        return false;
    }
    out_.insert(out_.end(), bytes, bytes + n);
    bytesQueued_ += n;
    return true;
}

// A tag message counts as sent once its last byte is on the line.
void Simulator::WriteOut() {
    if (out_.empty()) return;
    ssize_t n = write(master_, out_.data(), out_.size());
    if (n <= 0) return;
    out_.erase(out_.begin(), out_.begin() + n);
    bytesDone_ += static_cast<uint64_t>(n);
    while (!queuedTags_.empty() && queuedTags_.front().endsAt <= bytesDone_) {
        ++tagsSent_;
        recordsSent_ += static_cast<uint64_t>(queuedTags_.front().records);
        queuedTags_.pop_front();
    }
    if (out_.empty()) dropping_ = false;
}

void Simulator::DropOutput() {
    bytesDone_ += out_.size();
    out_.clear();
    queuedTags_.clear();
    dropping_ = false;
}
