// The simulator's single poll() loop: the serial line, the reset line, the
// control FIFO, the pending replies, the tag traffic and the script, all
// driven by one clock.
#pragma once

#include <bitset>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "tools/subgsim/sim_board.h"
#include "tools/subgsim/sim_control.h"
#include "tools/subgsim/sim_events.h"
#include "tools/subgsim/sim_gpio.h"
#include "tools/subgsim/sim_loader.h"
#include "tools/subgsim/sim_rate.h"
#include "tools/subgsim/sim_script.h"
#include "tools/subgsim/sim_state.h"
#include "tools/subgsim/sim_tag_traffic.h"

constexpr uint32_t kDefaultTagId = 100001;

struct SimConfig {
    SoftwareVersion version;
    BoardState initialState;
    int replyDelayMs = 2;
    std::string gpioValuePath = "/sys/class/gpio/gpio109/value";
    std::vector<ScriptCommand> script;
    std::optional<int> seconds;  // run until a signal when absent
    bool silent = false;         // a board that hears but neither acts nor answers
    uint32_t tagsEveryMs = 0;    // no tag traffic when 0
    uint32_t tagId = kDefaultTagId;
    uint32_t tagRate = 0;        // stream messages a second, from tagId on; none when 0
    int controlFd = -1;          // the control FIFO's read side, if there is one
};

class Simulator {
public:
    using Clock = std::chrono::steady_clock;

    Simulator(int masterFd, const SimConfig& config, EventLog* events);

    // Returns when the run time is up or *stop turns non-zero, after
    // recording how many tag messages went out.
    void Run(const volatile std::sig_atomic_t* stop);

private:
    struct PendingReply {
        Clock::time_point due;
        T7734FrameReply frame;
    };

    // A tag message in the output, counted once its last byte is written.
    struct QueuedTag {
        uint64_t endsAt;  // in bytes queued since the start
        int records;
    };

    Clock::time_point NextWake(Clock::time_point now, Clock::time_point end) const;
    void WaitForInput(Clock::time_point now, Clock::time_point wake);
    void PollResetLine(Clock::time_point now);
    void HoldInReset(Clock::time_point now);
    void Boot(Clock::time_point now);
    void ReadHost(Clock::time_point now);
    void CutFrames(Clock::time_point now);
    std::optional<T7734FrameReply> AnswerHost(const T7734FrameRequest& frame, Clock::time_point now);
    // The application runs: not in reset, not in the boot loader or ROM.
    bool Running() const { return !held_ && loader_.InApplication(); }
    void SendDueReplies(Clock::time_point now);
    void SendDueTag(Clock::time_point now);
    void SendDueRateTags(Clock::time_point now);
    void SendDueSurveyReading(Clock::time_point now);
    void RunScript(Clock::time_point now);
    void ReadControl(Clock::time_point now);
    void RunControlLine(const LineSplitter::Line& line, Clock::time_point now);
    void Execute(const ScriptCommand& cmd, Clock::time_point now);
    void ChangeBoard(const ScriptCommand& cmd);
    void StartTags(const ScriptCommand& cmd, Clock::time_point now);
    void StartTagRate(const ScriptCommand& cmd, Clock::time_point now);
    void SendTag(const TagTraffic& traffic);
    void RecordStats();
    void NoteState();
    void SendReply(const T7734FrameReply& frame);
    void Queue(const uint8_t* bytes, size_t n);
    bool Enqueue(const uint8_t* bytes, size_t n);
    void WriteOut();
    void DropOutput();

    int master_;
    SimConfig config_;
    EventLog* events_;
    SimBoard board_;
    SimLoader loader_;
    FrameCutter cutter_;
    ResetLineWatcher resetLine_;
    LineSplitter controlLines_;
    std::deque<PendingReply> pending_;
    std::vector<uint8_t> out_;
    bool dropping_ = false;
    uint64_t bytesQueued_ = 0;
    uint64_t bytesDone_ = 0;  // written or dropped
    std::deque<QueuedTag> queuedTags_;
    uint64_t tagsSent_ = 0;
    uint64_t recordsSent_ = 0;
    std::bitset<256> never_;
    std::string lastState_;
    bool held_ = false;
    bool masterQuiet_ = false;
    Clock::time_point lowSince_;
    Clock::time_point nextGpioPoll_;
    size_t scriptNext_ = 0;
    Clock::time_point scriptDue_;
    Clock::duration scriptLeftWhenHeld_{};
    Clock::time_point tagDue_;
    uint8_t tagSeq_ = 0;
    RateSchedule rate_;
    uint32_t rateFirstTag_;
    uint64_t rateIndex_ = 0;
    Clock::time_point surveyDue_;
};
