#include "tools/subgsim/sim_loop.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kGpioPollPeriod{2};
constexpr size_t kReadChunk = 512;
constexpr size_t kMaxQueuedOutput = 64 * 1024;

}  // namespace

Simulator::Simulator(int masterFd, const SimConfig& config, EventLog* events)
    : master_(masterFd),
      config_(config),
      events_(events),
      board_(config.version, config.initialState),
      resetLine_(config.gpioValuePath),
      scriptDue_(Clock::now()) {}

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
        RunScript(now);
        WriteOut();

        Clock::time_point wake = NextWake(now, end);
        int timeoutMs = static_cast<int>(
            std::chrono::ceil<milliseconds>(std::max(wake - now, Clock::duration::zero())).count());
        // Output waiting for room needs no wake of its own: the reset line's
        // polling brings the loop round often enough.
        pollfd pfd{masterQuiet_ ? -1 : master_, POLLIN, 0};
        masterQuiet_ = false;
        int ready = poll(&pfd, 1, timeoutMs);
        if (ready > 0 && (pfd.revents & (POLLIN | POLLHUP | POLLERR))) ReadHost(Clock::now());
    }
}

// The reset line is polled every few milliseconds, so no wait is longer.
Simulator::Clock::time_point Simulator::NextWake(Clock::time_point now, Clock::time_point end) const {
    Clock::time_point wake = std::min(end, std::max(nextGpioPoll_, now));
    if (!pending_.empty()) wake = std::min(wake, pending_.front().due);
    if (!held_ && scriptNext_ < config_.script.size()) wake = std::min(wake, scriptDue_);
    return wake;
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
    cutter_.Clear();
    pending_.clear();
    out_.clear();
    scriptLeftWhenHeld_ = std::max(scriptDue_ - now, Clock::duration::zero());
    events_->ResetLow();
}

// The board's settings live in flash and come through the reset as they were.
void Simulator::Boot(Clock::time_point now) {
    held_ = false;
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
    if (held_) {
        events_->Ignored(static_cast<size_t>(n));
        return;
    }
    std::vector<uint8_t> pushedOut = cutter_.Append(bytes, static_cast<size_t>(n));
    if (!pushedOut.empty()) events_->Bad(pushedOut);
    CutFrames(now);
}

void Simulator::CutFrames(Clock::time_point now) {
    // Each round consumes bytes, so the buffer's size bounds the rounds.
    for (size_t round = 0; round <= FrameCutter::kCapacity; ++round) {
        FrameCutter::Cut cut = cutter_.Next();
        if (!cut.bad.empty()) events_->Bad(cut.bad);
        if (!cut.hasFrame) return;
        events_->HostFrame(cut.frame, cut.wire);
        if (config_.silent) continue;
        std::optional<T7734FrameReply> reply = board_.Answer(cut.frame);
        NoteState();
        if (reply) pending_.push_back({now + milliseconds(config_.replyDelayMs), *reply});
    }
}

void Simulator::SendDueReplies(Clock::time_point now) {
    while (!pending_.empty() && pending_.front().due <= now) {
        SendReply(pending_.front().frame);
        pending_.pop_front();
    }
}

void Simulator::RunScript(Clock::time_point now) {
    while (!held_ && scriptNext_ < config_.script.size() && scriptDue_ <= now) {
        const ScriptCommand& cmd = config_.script[scriptNext_++];
        switch (cmd.kind) {
            case ScriptCommand::Kind::Sleep:
                scriptDue_ = now + milliseconds(cmd.sleepMs);
                break;
            case ScriptCommand::Kind::Send:
                Queue(cmd.bytes.data(), cmd.bytes.size());
                events_->RawSent(cmd.bytes);
                break;
            case ScriptCommand::Kind::Reply:
                SendReply(MakeReply(cmd.opcode, cmd.bytes.data(), cmd.bytes.size()));
                break;
        }
    }
}

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
    if (out_.size() + n > kMaxQueuedOutput) {
        std::fprintf(stderr, "subgsim: the host reads nothing, %zu bytes dropped\n", n);
        return;
    }
    out_.insert(out_.end(), bytes, bytes + n);
    WriteOut();
}

void Simulator::WriteOut() {
    if (out_.empty()) return;
    ssize_t n = write(master_, out_.data(), out_.size());
    if (n > 0) out_.erase(out_.begin(), out_.begin() + n);
}
