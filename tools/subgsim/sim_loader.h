// The simulated board's boot loader (address 1) and boot ROM (address
// 0xFD). Right after a reset a stop request keeps the board in one of them
// instead of starting its application; there it takes image lines, answers
// each with a status, activates and deactivates images, and leaves for the
// application at the next reset. No I/O, so that it can be tested directly.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "subg/frame.h"

// Versions activated in the loader, first number in the top byte.
struct ActivatedImages {
    std::optional<uint32_t> application;
    std::optional<uint32_t> bootLoader;
};

// One "loader ..." command of a script or the control FIFO.
struct LoaderCommand {
    enum class Kind { Reachable, Capabilities, LineStatus, LineSilent, LineOk };
    Kind kind = Kind::Reachable;
    uint32_t number = 0;  // on/off for Reachable, the length byte for Capabilities, the line otherwise
    uint8_t status = 0;   // LineStatus
};

// Parses the words after "loader"; returns an error text, empty when good.
std::string ParseLoaderCommand(std::istringstream& words, LoaderCommand* cmd);
extern const char* const kLoaderUsage;

class SimLoader {
public:
    using Clock = std::chrono::steady_clock;
    enum class Mode { Application, BootLoader, BootRom };

    // How long after a reset a stop request still catches the board.
    static constexpr std::chrono::milliseconds kBootWindow{2000};

    void Apply(const LoaderCommand& cmd);

    // The board comes out of reset: into its application, unless stopped soon.
    void Booted(Clock::time_point now);
    void HeldInReset() { mode_ = Mode::Application; }
    bool InApplication() const { return mode_ == Mode::Application; }
    // What was activated since the last call: the board runs it from its
    // next start.
    ActivatedImages TakeActivated();

    // True when the frame is the loader's business (the board is in its
    // loader or ROM, or the frame is a stop request); the application then
    // neither sees nor answers it.
    bool Takes(const T7734FrameRequest& frame) const;

    // Answers a frame that Takes; *event gets a line for the record when
    // something happened worth telling (empty otherwise).
    std::optional<T7734FrameReply> Answer(const T7734FrameRequest& frame, Clock::time_point now, std::string* event);

private:
    std::optional<T7734FrameReply> Stop(const T7734FrameRequest& frame, Clock::time_point now, std::string* event);
    std::optional<T7734FrameReply> InLoader(const T7734FrameRequest& frame, std::string* event);
    void Activate(const T7734FrameRequest& frame);
    std::optional<T7734FrameReply> Capabilities() const;
    std::optional<T7734FrameReply> ImageLine(const T7734FrameRequest& frame) const;

    bool reachable_ = true;
    uint8_t capabilitiesLength_ = 21;
    std::map<uint16_t, std::optional<uint8_t>> lineStatus_;  // nullopt: no answer
    Mode mode_ = Mode::Application;
    Clock::time_point windowEnd_{};
    ActivatedImages activated_;
};
