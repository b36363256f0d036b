#include "tools/subgsim/sim_loader.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "platform/byte_order.h"
#include "subg/opcodes.h"

namespace {

constexpr uint32_t kCapabilities[4] = {120000, 80, 1000, 2};
constexpr uint32_t kActiveLoader = 0x01000000;  // 1.0.0.0
constexpr uint8_t kLoaderOk = 0;
constexpr uint8_t kLoaderFrameError = 5;
constexpr size_t kVersionDataBytes = 5;        // version and a marker byte

bool ParseNumber(const std::string& word, uint32_t max, uint32_t* out) {
    if (word.empty() || word.size() > 5) return false;
    uint32_t value = 0;
    for (char c : word) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > max) return false;
    *out = value;
    return true;
}

size_t DataLength(const T7734FrameRequest& frame) {
    return frame.length > kFrameOverhead ? static_cast<size_t>(frame.length - kFrameOverhead) : 0;
}

std::string VersionEvent(const char* what, const T7734FrameRequest& frame) {
    char text[96];
    if (DataLength(frame) < kVersionDataBytes) {
        std::snprintf(text, sizeof text, "%s version=none", what);
    } else {
        std::snprintf(text, sizeof text, "%s version=0x%08x marker=0x%02x", what, GetLE32(frame.data),
                      frame.data[4]);
    }
    return text;
}

}  // namespace

const char* const kLoaderUsage = "loader takes on, off, caps LENGTH, or line N ok|silent|error CODE";

std::string ParseLoaderCommand(std::istringstream& words, LoaderCommand* cmd) {
    std::vector<std::string> w;
    std::string word;
    while (words >> word && w.size() < 5) w.push_back(word);
    using Kind = LoaderCommand::Kind;
    if (w.size() == 1 && (w[0] == "on" || w[0] == "off")) {
        *cmd = {Kind::Reachable, w[0] == "on" ? 1u : 0u, 0};
        return "";
    }
    if (w.size() == 2 && w[0] == "caps" && ParseNumber(w[1], kMaxFrameLen, &cmd->number) &&
        cmd->number >= static_cast<uint32_t>(kFrameOverhead)) {
        cmd->kind = Kind::Capabilities;
        return "";
    }
    if (w.size() < 3 || w[0] != "line" || !ParseNumber(w[1], 0xFFFF, &cmd->number)) return kLoaderUsage;
    uint32_t status = 0;
    if (w.size() == 3 && w[2] == "ok") cmd->kind = Kind::LineOk;
    else if (w.size() == 3 && w[2] == "silent") cmd->kind = Kind::LineSilent;
    else if (w.size() == 4 && w[2] == "error" && ParseNumber(w[3], 255, &status)) cmd->kind = Kind::LineStatus;
    else return kLoaderUsage;
    cmd->status = static_cast<uint8_t>(status);
    return "";
}

void SimLoader::Apply(const LoaderCommand& cmd) {
    using Kind = LoaderCommand::Kind;
    uint16_t line = static_cast<uint16_t>(cmd.number);
    switch (cmd.kind) {
        case Kind::Reachable: reachable_ = cmd.number != 0; break;
        case Kind::Capabilities: capabilitiesLength_ = static_cast<uint8_t>(cmd.number); break;
        case Kind::LineOk: lineStatus_.erase(line); break;
        case Kind::LineSilent: lineStatus_[line] = std::nullopt; break;
        case Kind::LineStatus: lineStatus_[line] = cmd.status; break;
    }
}

void SimLoader::Booted(Clock::time_point now) {
    mode_ = Mode::Application;
    windowEnd_ = now + kBootWindow;
}

bool SimLoader::Takes(const T7734FrameRequest& frame) const {
    if (mode_ != Mode::Application) return true;
    return (frame.address == kSubGAppAddress && frame.opcode == LoaderOp::StopInBootLoader) ||
           (frame.address == kSubGBootRomAddress && frame.opcode == LoaderOp::StopInBootRom);
}

std::optional<T7734FrameReply> SimLoader::Answer(const T7734FrameRequest& frame, Clock::time_point now,
                                                 std::string* event) {
    event->clear();
    if (mode_ == Mode::Application) return Stop(frame, now, event);
    // The loader hears only its own address, the boot ROM only its own.
    Mode addressed = frame.address == kSubGBootRomAddress ? Mode::BootRom
                     : frame.address == kSubGAppAddress   ? Mode::BootLoader
                                                          : Mode::Application;
    if (addressed != mode_) return std::nullopt;
    return InLoader(frame, event);
}

// Too late after the reset, the application already runs and the request
// finds no one.
std::optional<T7734FrameReply> SimLoader::Stop(const T7734FrameRequest& frame, Clock::time_point now,
                                               std::string* event) {
    if (!reachable_ || now > windowEnd_) return std::nullopt;
    mode_ = frame.address == kSubGBootRomAddress ? Mode::BootRom : Mode::BootLoader;
    *event = mode_ == Mode::BootRom ? "enter bootrom" : "enter loader";
    return MakeReply(frame.opcode);
}

std::optional<T7734FrameReply> SimLoader::InLoader(const T7734FrameRequest& frame, std::string* event) {
    const bool rom = mode_ == Mode::BootRom;
    switch (frame.opcode) {
        case LoaderOp::StopInBootLoader:
        case LoaderOp::StopInBootRom: return MakeReply(frame.opcode);
        case LoaderOp::GetCapabilities: return rom ? std::nullopt : Capabilities();
        case LoaderOp::ImageLine: return ImageLine(frame);
        case LoaderOp::ActivateApp:
        case LoaderOp::ActivateLoader:
            *event = VersionEvent(frame.opcode == LoaderOp::ActivateApp ? "activate application" : "activate loader",
                                  frame);
            Activate(frame);
            return std::nullopt;  // the host does not wait for an answer
        case LoaderOp::DeactivateApp:
        case LoaderOp::DeactivateLoader:
            *event = VersionEvent(
                frame.opcode == LoaderOp::DeactivateApp ? "deactivate application" : "deactivate loader", frame);
            return MakeReply(frame.opcode, &kLoaderOk, 1);
        case LoaderOp::GetLoaders: {
            uint8_t data[5] = {1};
            PutLE32(data + 1, kActiveLoader);
            return MakeReply(frame.opcode, data, sizeof data);
        }
        case LoaderOp::Reset:
            mode_ = Mode::Application;
            *event = "restart";
            return MakeReply(frame.opcode);
        default: return std::nullopt;
    }
}

void SimLoader::Activate(const T7734FrameRequest& frame) {
    if (DataLength(frame) < kVersionDataBytes) return;
    (frame.opcode == LoaderOp::ActivateApp ? activated_.application : activated_.bootLoader) = GetLE32(frame.data);
}

ActivatedImages SimLoader::TakeActivated() {
    ActivatedImages taken = activated_;
    activated_ = {};
    return taken;
}

// A length byte of 20 or less carries no capability words.
std::optional<T7734FrameReply> SimLoader::Capabilities() const {
    uint8_t data[kMaxFrameData] = {};
    for (int i = 0; i < 4; ++i) PutLE32(data + 4 * i, kCapabilities[i]);
    return MakeReply(LoaderOp::GetCapabilities, data, capabilitiesLength_ - static_cast<size_t>(kFrameOverhead));
}

std::optional<T7734FrameReply> SimLoader::ImageLine(const T7734FrameRequest& frame) const {
    if (DataLength(frame) < 3) return MakeReply(frame.opcode, &kLoaderFrameError, 1);
    auto it = lineStatus_.find(GetLE16(frame.data));
    if (it == lineStatus_.end()) return MakeReply(frame.opcode, &kLoaderOk, 1);
    if (!it->second) return std::nullopt;
    return MakeReply(frame.opcode, &*it->second, 1);
}
