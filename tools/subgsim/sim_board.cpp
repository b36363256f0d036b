#include "tools/subgsim/sim_board.h"

#include <cctype>
#include <cstdlib>

#include "subg/opcodes.h"

namespace {

bool ParseVersionPart(const std::string& text, size_t* pos, uint8_t* out) {
    size_t start = *pos;
    unsigned value = 0;
    while (*pos < text.size() && *pos - start < 3 && std::isdigit(static_cast<unsigned char>(text[*pos]))) {
        value = value * 10 + static_cast<unsigned>(text[*pos] - '0');
        ++*pos;
    }
    if (*pos == start || value > 255) return false;
    *out = static_cast<uint8_t>(value);
    return true;
}

}  // namespace

bool ParseVersion(const std::string& text, SoftwareVersion* out) {
    SoftwareVersion v;
    size_t pos = 0;
    uint8_t* parts[3] = {&v.major, &v.minor, &v.build};
    for (int i = 0; i < 3; ++i) {
        if (i > 0 && (pos >= text.size() || text[pos++] != '.')) return false;
        if (!ParseVersionPart(text, &pos, parts[i])) return false;
    }
    if (pos != text.size()) return false;
    *out = v;
    return true;
}

std::vector<uint8_t> FrameCutter::Append(const uint8_t* bytes, size_t n) {
    std::vector<uint8_t> pushedOut;
    if (n >= kCapacity) {
        pushedOut.swap(buf_);
        pushedOut.insert(pushedOut.end(), bytes, bytes + (n - kCapacity));
        buf_.assign(bytes + (n - kCapacity), bytes + n);
        return pushedOut;
    }
    size_t excess = buf_.size() + n > kCapacity ? buf_.size() + n - kCapacity : 0;
    pushedOut.assign(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(excess));
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(excess));
    buf_.insert(buf_.end(), bytes, bytes + n);
    return pushedOut;
}

FrameCutter::Cut FrameCutter::Next() {
    Cut cut;
    size_t start = 0;
    while (start < buf_.size()) {
        int len = RequestFromWire(buf_.data() + start, buf_.size() - start, &cut.frame);
        if (len == 0) break;
        if (len < 0) {
            cut.bad.push_back(buf_[start++]);
            continue;
        }
        cut.hasFrame = true;
        cut.wire.assign(buf_.begin() + static_cast<std::ptrdiff_t>(start),
                        buf_.begin() + static_cast<std::ptrdiff_t>(start) + len);
        start += static_cast<size_t>(len);
        break;
    }
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(start));
    return cut;
}

const std::map<uint8_t, SimBoard::Handler>& SimBoard::Handlers() {
    static const std::map<uint8_t, Handler> table = {
        {SubGOp::GetSWVersion, &SimBoard::SoftwareVersionReply},
    };
    return table;
}

std::optional<T7734FrameReply> SimBoard::Answer(const T7734FrameRequest& request) const {
    // Frames for the boot ROM find no listener while the application runs.
    if (request.address != kSubGAppAddress) return std::nullopt;
    auto it = Handlers().find(request.opcode);
    if (it == Handlers().end()) return std::nullopt;
    return (this->*(it->second))(request);
}

std::optional<T7734FrameReply> SimBoard::SoftwareVersionReply(const T7734FrameRequest& request) const {
    const uint8_t data[3] = {version_.major, version_.minor, version_.build};
    return MakeReply(request.opcode, data, sizeof data);
}
