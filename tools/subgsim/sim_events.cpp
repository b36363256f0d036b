#include "tools/subgsim/sim_events.h"

#include <time.h>

#include <map>

#include "subg/opcodes.h"

namespace {

constexpr size_t kHumanColumn = 40;

const std::map<uint8_t, const char*>& OpcodeNames() {
    static const std::map<uint8_t, const char*> names = {
        {0, "tag message"}, {1, "parameter check"}, {2, "set frequency"},
        {3, "reset radio chip"}, {4, "crystal oscillator off"}, {5, "crystal oscillator on"},
        {6, "display part number"}, {7, "display part version"}, {8, "manual calibration 1"},
        {9, "manual calibration 2"}, {10, "synthesizer on"}, {11, "continuous wave"},
        {12, "set output power"}, {13, "scan RSSI"}, {14, "stop RSSI scan"},
        {15, "start PER test"}, {16, "stop PER test"}, {17, "get diagnostics"},
        {18, "reset diagnostics"}, {20, "get software version"}, {21, "collect from both radios"},
        {22, "tag firmware block"}, {23, "reset board"}, {24, "set diagnostics interval"},
        {25, "start reset-tag-diagnostics"}, {26, "stop reset-tag-diagnostics"},
        {27, "get frequency"}, {28, "tag firmware block"}, {29, "tag firmware block"},
        {30, "start beacon"}, {31, "stop beacon"}, {32, "set frequency-change delay"},
        {33, "start tag parameters"}, {34, "stop tag parameters"},
        {35, "region and channel table"}, {36, "working channel"},
        {37, "tag steady-state interval"}, {38, "LED word"}, {39, "get application checksum"},
        {40, "set serial number"}, {41, "get service information"}, {42, "get output power"},
        {43, "get steady-state interval"}, {44, "MEMS filter parameters"},
        {45, "MEMS filter parameters"}, {46, "MEMS filter parameters"},
        {47, "MEMS filter parameters"},
    };
    return names;
}

std::string DataHex(const uint8_t* data, uint8_t length) {
    return HexBytes(data, length >= kFrameOverhead ? static_cast<size_t>(length - kFrameOverhead) : 0);
}

std::string OpLabel(uint8_t opcode) { return " (op " + std::to_string(opcode) + ")"; }

std::string LedWordText(uint8_t word) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02x", word);
    return std::string("LED word ") + hex + " (" + DescribeLedWord(word) + ")";
}

std::string HostDescription(const T7734FrameRequest& frame) {
    if (frame.address == kSubGAppAddress && frame.opcode == SubGOp::LedWord && frame.length > kFrameOverhead) {
        return LedWordText(frame.data[0]) + OpLabel(frame.opcode);
    }
    if (frame.address == kSubGAppAddress) return OpcodeName(frame.opcode) + OpLabel(frame.opcode);
    if (frame.address == kSubGBootRomAddress) return "boot ROM opcode " + std::to_string(frame.opcode);
    return "address " + std::to_string(frame.address) + " opcode " + std::to_string(frame.opcode);
}

std::string ReplyDescription(const T7734FrameReply& frame) {
    if (frame.opcode == SubGOp::GetSWVersion && frame.length == kFrameOverhead + 3) {
        return "software version " + std::to_string(frame.data[0]) + "." + std::to_string(frame.data[1]) +
               "." + std::to_string(frame.data[2]) + OpLabel(frame.opcode);
    }
    if (frame.opcode == SubGOp::LedWord && frame.length > kFrameOverhead) {
        return LedWordText(frame.data[0]) + " reply" + OpLabel(frame.opcode);
    }
    if (frame.opcode == SubGOp::TagMessage && frame.length >= kFrameOverhead + 8) {
        const uint8_t* d = frame.data;
        uint32_t tagId = d[3] | (uint32_t{d[4]} << 8) | (uint32_t{d[5]} << 16) | (uint32_t{d[6]} << 24);
        return "tag message from tag " + std::to_string(tagId) + ", number " + std::to_string(d[7]) +
               OpLabel(frame.opcode);
    }
    // A tag message is the board's own news, not an answer to anything.
    const char* kind = frame.opcode == SubGOp::TagMessage ? "" : " reply";
    return OpcodeName(frame.opcode) + kind + OpLabel(frame.opcode);
}

// Pads the description so that the bytes line up in a column.
std::string Serial(const char* direction, const std::string& description, const std::string& hex) {
    std::string line = std::string("[serial] ") + direction + "  " + description;
    line.append(description.size() < kHumanColumn ? kHumanColumn - description.size() : 2, ' ');
    return line + hex;
}

std::string MonotonicStamp() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9);
    return text;
}

}  // namespace

std::string HexBytes(const uint8_t* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        if (i > 0) text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0f];
    }
    return text;
}

std::string OpcodeName(uint8_t opcode) {
    auto it = OpcodeNames().find(opcode);
    return it != OpcodeNames().end() ? it->second : "opcode " + std::to_string(opcode);
}

namespace RecordBody {

std::string Frame(const T7734FrameRequest& frame) {
    return "FRAME op=" + std::to_string(frame.opcode) + " len=" + std::to_string(frame.length) +
           " addr=" + std::to_string(frame.address) + " data=" + DataHex(frame.data, frame.length);
}

std::string Sent(const T7734FrameReply& frame) {
    return "SENT op=" + std::to_string(frame.opcode) + " len=" + std::to_string(frame.length) +
           " data=" + DataHex(frame.data, frame.length);
}

std::string Raw(const std::vector<uint8_t>& bytes) {
    return "RAW len=" + std::to_string(bytes.size()) + " bytes=" + HexBytes(bytes.data(), bytes.size());
}

std::string Bad(const std::vector<uint8_t>& bytes) { return "BAD bytes=" + HexBytes(bytes.data(), bytes.size()); }

std::string Ignored(size_t count) { return "IGNORED len=" + std::to_string(count); }

std::string ResetLow() { return "RESET low"; }

std::string ResetHigh(long lowMs) { return "RESET high low_ms=" + std::to_string(lowMs); }

std::string State(const BoardState& state) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "STATE freq0=%.3f freq1=%.3f power0=%u power1=%u steady=%lu region=%u channel=%u table=%zu "
                  "diag=%u",
                  static_cast<double>(state.freq[0]), static_cast<double>(state.freq[1]), state.power[0],
                  state.power[1], static_cast<unsigned long>(state.steadySeconds), state.region, state.channel,
                  state.table.size(), state.diagMinutes);
    return text;
}

std::string Control(const std::string& line) { return "CONTROL " + line; }

std::string ControlError(const std::string& text) { return "CONTROL-ERROR " + text; }

std::string BadTag(const char* kind, uint32_t tagId, uint8_t seq) {
    return std::string("BADTAG kind=") + kind + " tag=" + std::to_string(tagId) + " seq=" + std::to_string(seq);
}

std::string Stats(uint64_t tags, uint64_t records) {
    return "STATS tags=" + std::to_string(tags) + " records=" + std::to_string(records);
}

std::string Loader(const std::string& event) { return "LOADER " + event; }

}  // namespace RecordBody

void EventLog::HostFrame(const T7734FrameRequest& frame, const std::vector<uint8_t>& wire) {
    Emit(RecordBody::Frame(frame), Serial("host -> board", HostDescription(frame), HexBytes(wire.data(), wire.size())));
}

void EventLog::BoardReply(const T7734FrameReply& frame, const uint8_t* wire, size_t n) {
    Emit(RecordBody::Sent(frame), Serial("board -> host", ReplyDescription(frame), HexBytes(wire, n)));
}

void EventLog::RawSent(const std::vector<uint8_t>& bytes) {
    Emit(RecordBody::Raw(bytes), Serial("board -> host", "scripted raw bytes", HexBytes(bytes.data(), bytes.size())));
}

void EventLog::Bad(const std::vector<uint8_t>& bytes) {
    Emit(RecordBody::Bad(bytes), Serial("host -> board", "not a frame, dropped", HexBytes(bytes.data(), bytes.size())));
}

void EventLog::Ignored(size_t count) {
    Emit(RecordBody::Ignored(count),
         "[serial] host -> board  " + std::to_string(count) + " bytes lost: board held in reset");
}

void EventLog::ResetLow() { Emit(RecordBody::ResetLow(), "[gpio]   reset line low: board held in reset"); }

void EventLog::ResetHigh(long lowMs) {
    Emit(RecordBody::ResetHigh(lowMs),
         "[gpio]   reset line high after " + std::to_string(lowMs) + " ms: board boots");
}

void EventLog::StateChanged(const BoardState& s) {
    char human[200];
    std::snprintf(human, sizeof human,
                  "[state]  radio 0 %.3f MHz power 0x%02x, radio 1 %.3f MHz power 0x%02x, steady state %lu s, "
                  "region %u, channel %u of %zu, diagnostics every %u min",
                  static_cast<double>(s.freq[0]), s.power[0], static_cast<double>(s.freq[1]), s.power[1],
                  static_cast<unsigned long>(s.steadySeconds), s.region, s.channel, s.table.size(), s.diagMinutes);
    Emit(RecordBody::State(s), human);
}

void EventLog::Control(const std::string& line) { Emit(RecordBody::Control(line), "[control] " + line); }

void EventLog::ControlError(const std::string& text) {
    std::fprintf(stderr, "subgsim: control: %s\n", text.c_str());
    Emit(RecordBody::ControlError(text), "[control] rejected: " + text);
}

void EventLog::BadTag(const char* kind, uint32_t tagId, uint8_t seq) {
    Emit(RecordBody::BadTag(kind, tagId, seq), "[tags]   malformed tag message (" + std::string(kind) + ") from tag " +
                                                   std::to_string(tagId) + ", number " + std::to_string(seq));
}

void EventLog::Stats(uint64_t tags, uint64_t records) {
    Emit(RecordBody::Stats(tags, records),
         "[tags]   " + std::to_string(tags) + " tag messages sent, " + std::to_string(records) + " records in them");
}

void EventLog::Loader(const std::string& event) { Emit(RecordBody::Loader(event), "[loader] " + event); }

void EventLog::Emit(const std::string& body, const std::string& human) {
    if (record_) {
        std::fprintf(record_, "%s %s\n", MonotonicStamp().c_str(), body.c_str());
        std::fflush(record_);
    }
    if (verbose_) {
        std::fprintf(verbose_, "%s\n", human.c_str());
        std::fflush(verbose_);
    }
}
