// The simulated board's application: how it cuts the host's byte stream into
// frames and what it answers. No I/O, so that it can be tested directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "subg/frame.h"
#include "tools/subgsim/sim_state.h"
#include "tools/subgsim/sim_survey.h"

struct SoftwareVersion {
    uint8_t major = 1;
    uint8_t minor = 6;
    uint8_t build = 10;
    uint8_t fourth = 0;  // told only in the version record
};

// Reads "A.B.C" with each part 0-255.
bool ParseVersion(const std::string& text, SoftwareVersion* out);

// Frames follow each other without start markers, so after garbage the only
// way back in step is to slide forward one byte at a time.
class FrameCutter {
public:
    static constexpr size_t kCapacity = 4096;

    struct Cut {
        std::vector<uint8_t> bad;    // bytes skipped before the frame (or before the wait for more)
        bool hasFrame = false;
        T7734FrameRequest frame{};
        std::vector<uint8_t> wire;   // the frame as it came on the line
    };

    // Returns the oldest bytes pushed out when the buffer would overflow.
    std::vector<uint8_t> Append(const uint8_t* bytes, size_t n);
    Cut Next();
    void Clear() { buf_.clear(); }

private:
    std::vector<uint8_t> buf_;
};

// True for board software above 1.6.9, which takes its channel table from
// the host, has a boot loader and reports diagnostics without frequencies.
bool IsModernVersion(const SoftwareVersion& version);

class SimBoard {
public:
    SimBoard(SoftwareVersion version, BoardState state) : version_(version), state_(std::move(state)) {}

    // Takes in a host frame: keeps what it sets and returns the reply the
    // board sends, if it sends one.
    std::optional<T7734FrameReply> Answer(const T7734FrameRequest& request);

    // The application or boot loader the loader activated runs from the next
    // start on; versions as the loader takes them, first number on top.
    void RunApplication(uint32_t version);
    void RunBootLoader(uint32_t version) { bootLoaderVersion_ = version; }

    const BoardState& State() const { return state_; }
    BoardState* MutableState() { return &state_; }

    // The diagnostics reply, also sent unasked on command.
    T7734FrameReply Diagnostics() const;
    // The channel scan the host started; the loop paces its readings.
    SimSurvey* Survey() { return &survey_; }
    bool Surveying() const { return survey_.Running(); }

private:
    using Handler = std::optional<T7734FrameReply> (SimBoard::*)(const T7734FrameRequest&);
    static const std::map<uint8_t, Handler>& Handlers();

    std::optional<T7734FrameReply> ParamCheckReply(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> SetFrequency(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> SetPower(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> DiagnosticsReply(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> SoftwareVersionReply(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> NoReply(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> SetDiagInterval(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> FrequencyReply(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> SetRegionAndTable(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> SetWorkingChannel(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> SetSteadyState(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> LedWordReply(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> ChecksumReply(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> ServiceInfoReply(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> OutputPowerReply(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> SteadyStateReply(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> StartScan(const T7734FrameRequest& request);
    std::optional<T7734FrameReply> StopScan(const T7734FrameRequest& request);

    SoftwareVersion version_;
    uint32_t bootLoaderVersion_ = 0x01000000;  // 1.0.0.0
    BoardState state_;
    SimSurvey survey_;
};
