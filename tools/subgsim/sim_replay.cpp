#include "tools/subgsim/sim_replay.h"

#include <cstdint>
#include <string>
#include <vector>

#include "tools/subgsim/sim_events.h"
#include "tools/subgsim/sim_tag_traffic.h"
#include "tools/subgsim/sim_tags.h"

namespace {

// The daemon opens the line and finishes its start-up before the first byte.
constexpr int kStartMs = 4000;
constexpr int kChunkGapMs = 50;
// Long enough for the host to take the first part of a frame on its own.
constexpr int kSplitGapMs = 20;
constexpr int kEndMs = 1000;

struct Message {
    std::string what;
    TagTraffic traffic;
    bool malformed = false;
};

struct Replay {
    std::string body;
    uint64_t messages = 0;
    uint64_t malformed = 0;
    uint64_t records = 0;
};

std::string KindList(const std::vector<std::string>& names) {
    if (names.empty()) return "no sub-messages";
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
    return text;
}

std::string RecordsText(int records) {
    return records == 1 ? "1 record" : std::to_string(records) + " records";
}

Message Good(uint32_t tagId, uint8_t seq, uint8_t delay, const std::vector<std::string>& names) {
    std::vector<SubMsgKind> kinds;
    for (const std::string& name : names) kinds.push_back(*SubMsgKindByName(name));
    TagTraffic traffic = KindsTagMessage(tagId, seq, delay, kinds);
    return {"tag " + std::to_string(tagId) + " seq " + std::to_string(seq) + " delay " + std::to_string(delay) + ": " +
                KindList(names) + " (" + RecordsText(traffic.records) + ")",
            traffic};
}

Message Bad(MalformedKind kind, uint32_t tagId, uint8_t seq) {
    TagTraffic traffic = MalformedTagMessage(kind, tagId, seq);
    return {"malformed, " + std::string(MalformedKindName(kind)) + ": tag " + std::to_string(tagId) + " seq " +
                std::to_string(seq) + " (" + RecordsText(traffic.records) + ")",
            traffic, true};
}

// Three reports of a tag on the second radio with a 15-minute interval,
// heard late and weakly.
Message SecondRadio(uint32_t tagId) {
    TagPacketHeader header;
    header.radio = 1;
    header.tagId = tagId;
    header.messageId = 42;
    header.intervalLength = 3;
    header.delayCount = 2;
    header.rssi = 0xf0;
    std::vector<TagSubMessage> subs;
    for (uint8_t msgId = 40; msgId <= 42; ++msgId) {
        ActivityReport report;
        report.msgId = msgId;
        report.steps = static_cast<uint16_t>(300 + msgId);
        report.standingTime = 420;
        report.lyingNum = 2;
        report.lyingTime = 45;
        report.flags = 1;
        subs.push_back(ActivitySubMessage(report));
    }
    return {"tag " + std::to_string(tagId) +
                " seq 42 delay 2, radio 2, 15-minute interval, RSSI 0xf0: activity,activity,activity (3 records)",
            {TagMessageWire(TagMessagePayload(header, subs)), RecordCount(subs)}};
}

void Line(Replay* r, const std::string& text) { r->body += text + "\n"; }

void Sleep(Replay* r, int ms) { Line(r, "sleep " + std::to_string(ms)); }

void Send(Replay* r, const std::vector<uint8_t>& bytes) { Line(r, "send " + HexBytes(bytes.data(), bytes.size())); }

void Count(Replay* r, const Message& m) {
    ++r->messages;
    r->records += static_cast<uint64_t>(m.traffic.records);
    if (m.malformed) ++r->malformed;
}

void Chunk(Replay* r, const Message& m) {
    Count(r, m);
    Line(r, "# " + m.what);
    Send(r, m.traffic.wire);
    Sleep(r, kChunkGapMs);
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

void Split(Replay* r, const Message& m, size_t at, const std::string& where) {
    Count(r, m);
    Line(r, "# " + m.what + ", split " + where);
    Send(r, Slice(m.traffic.wire, 0, at));
    Sleep(r, kSplitGapMs);
    Send(r, Slice(m.traffic.wire, at, m.traffic.wire.size()));
    Sleep(r, kChunkGapMs);
}

void Joined(Replay* r, const std::vector<Message>& messages) {
    std::vector<uint8_t> bytes;
    for (const Message& m : messages) {
        Count(r, m);
        Line(r, "# " + m.what);
        bytes.insert(bytes.end(), m.traffic.wire.begin(), m.traffic.wire.end());
    }
    Send(r, bytes);
    Sleep(r, kChunkGapMs);
}

void EveryKind(Replay* r) {
    Line(r, "");
    Line(r, "# == one message for each sub-message kind");
    Chunk(r, Good(200001, 1, 0, {"activity"}));
    Chunk(r, Good(200002, 1, 0, {"unforwarded"}));
    Chunk(r, Good(200003, 1, 0, {"standup"}));
    Chunk(r, Good(200001, 2, 0, {"diag1"}));
    Chunk(r, Good(200002, 2, 0, {"diag2"}));
    Chunk(r, Good(200003, 2, 0, {"params"}));
    Chunk(r, Good(200004, 1, 0, {"per"}));
    Chunk(r, Good(200004, 2, 0, {"mems"}));
    Chunk(r, Good(200004, 3, 0, {"raw"}));
    Chunk(r, Good(200001, 3, 0, {"type10", "activity"}));
    Chunk(r, Good(200002, 3, 0, {"unknown", "activity"}));
}

void Mixed(Replay* r) {
    Line(r, "");
    Line(r, "# == several sub-messages in one message, delay counts, sequence numbers that wrap");
    Chunk(r, Good(200001, 6, 0, {"activity", "activity", "activity"}));
    Chunk(r, Good(200002, 6, 2, {"activity", "activity", "standup"}));
    Chunk(r, Good(200003, 5, 1, {"per", "activity", "mems", "raw", "activity"}));
    Chunk(r, Good(200004, 7, 3, {"diag2", "params", "activity"}));
    Chunk(r, Good(200005, 0, 0, {"activity", "activity", "activity"}));
    Chunk(r, Good(200005, 1, 0, {}));
    Chunk(r, Good(200006, 9, 1, {"unforwarded", "activity", "diag1"}));
    Chunk(r, SecondRadio(200007));
}

void Malformed(Replay* r) {
    Line(r, "");
    Line(r, "# == each malformed kind once, each followed after a pause by a good message");
    const MalformedKind kinds[] = {MalformedKind::Format1,  MalformedKind::Diag3,    MalformedKind::Short,
                                   MalformedKind::Cut,      MalformedKind::Checksum, MalformedKind::Length4};
    uint8_t seq = 10;
    for (MalformedKind kind : kinds) {
        Chunk(r, Bad(kind, 200008, seq++));
        Chunk(r, Good(200008, seq++, 0, {"activity"}));
    }
}

void SplitChunks(Replay* r) {
    Line(r, "");
    Line(r, "# == frames that arrive in two chunks");
    Split(r, Good(200009, 1, 0, {"activity"}), 6, "inside the tag header");
    Message diag = Good(200009, 2, 0, {"diag2"});
    Split(r, diag, diag.traffic.wire.size() / 2, "inside the diagnostics body");
    Message last = Good(200009, 3, 1, {"activity", "params"});
    Split(r, last, last.traffic.wire.size() - 1, "before the checksum");
}

void JoinedChunks(Replay* r) {
    Line(r, "");
    Line(r, "# == two and three frames in one chunk");
    Joined(r, {Good(200001, 10, 0, {"activity"}), Good(200002, 10, 0, {"diag2"})});
    Joined(r, {Good(200003, 10, 0, {"activity", "activity"}), Good(200004, 10, 1, {"params"}),
               Good(200005, 10, 0, {"standup"})});
    Line(r, "");
    Line(r, "# == a frame and the start of the next in one chunk, the rest in another");
    Message first = Good(200006, 10, 0, {"activity"});
    Message second = Good(200007, 43, 0, {"activity", "per"});
    Count(r, first);
    Count(r, second);
    Line(r, "# " + first.what);
    Line(r, "# " + second.what + ", its first 8 bytes with the frame before");
    std::vector<uint8_t> bytes = first.traffic.wire;
    bytes.insert(bytes.end(), second.traffic.wire.begin(), second.traffic.wire.begin() + 8);
    Send(r, bytes);
    Sleep(r, kSplitGapMs);
    Send(r, Slice(second.traffic.wire, 8, second.traffic.wire.size()));
    Sleep(r, kChunkGapMs);
}

}  // namespace

std::string ReplayScript() {
    Replay r;
    EveryKind(&r);
    Mixed(&r);
    Malformed(&r);
    SplitChunks(&r);
    JoinedChunks(&r);
    std::string text =
        "# Serial traffic from the SubG board for the daemon's regression test: tag\n"
        "# messages of every kind, good and malformed, in whole, split and joined chunks.\n"
        "# Made by tarnel-make-replay; a fixed recording of raw bytes.\n"
        "# Totals: " + std::to_string(r.messages) + " tag messages, " + std::to_string(r.malformed) +
        " of them malformed; " + std::to_string(r.records) + " records for a sound host to deliver.\n"
        "\n"
        "# The daemon starts and connects first.\n"
        "sleep " + std::to_string(kStartMs) + "\n";
    text += r.body;
    text += "\n# Time for the daemon to handle the last messages.\nsleep " + std::to_string(kEndMs) + "\n";
    return text;
}
