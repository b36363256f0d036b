// What the two simulators say happened, parsed for the delivery tests: the
// RTC simulator's JSON lines (it runs with --json), the tag messages the
// board sent (its serial record) and the activity log the reader wrote.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ZemloReaderDataPackage.pb.h"
#include "sandbox_run.h"

// One line of the RTC simulator: a message ("recv"/"sent") or an event.
struct RtcLine {
    double t = 0;
    std::string dir;    // "recv", "sent", or empty for an event
    std::string kind;   // READERDATAPACKAGE, KEEPALIVE, ... for messages
    std::string event;  // CONNECT, CLOSED, BAD, ... for events
    std::string message;  // the message in protobuf's JSON mapping
};
std::vector<RtcLine> RtcLines(const SandboxRun& run);
std::vector<RtcLine> RtcLinesOf(const std::string& path);
// The received messages of one kind, in order.
std::vector<RtcLine> Received(const std::vector<RtcLine>& lines, const std::string& kind);
size_t CountEvents(const std::vector<RtcLine>& lines, const std::string& event);
// Parses a received message's JSON into msg; false when it does not parse.
bool ParseMessage(const RtcLine& line, google::protobuf::Message* msg);

// A tag record: who, which message, when (ms, as the reader dated it) and
// what the activity report said. Visit time 0 where the source has none.
struct TagRecord {
    uint32_t tag = 0;
    uint32_t msgId = 0;
    uint64_t visitMs = 0;
    uint32_t steps = 0, standing = 0, lyingNum = 0, lyingTime = 0;
    std::string position;  // "Lying", "Standing", "Unknown"
    auto Identity() const { return std::make_tuple(tag, msgId, visitMs); }
    bool operator<(const TagRecord& o) const {
        return std::tie(tag, msgId, visitMs, steps, standing, lyingNum, lyingTime, position) <
               std::tie(o.tag, o.msgId, o.visitMs, o.steps, o.standing, o.lyingNum, o.lyingTime, o.position);
    }
    bool operator==(const TagRecord& o) const { return !(*this < o) && !(o < *this); }
};

// The RTC's view: every tag record of every data package received.
std::vector<TagRecord> DeliveredRecords(const std::vector<RtcLine>& lines);
// The message indices of the data packages received, keep-alives left out.
std::vector<uint64_t> DeliveredIndices(const std::vector<RtcLine>& lines);
// The board's view: one record per activity report of the tag messages it
// sent (no visit time: the reader dates them).
std::vector<TagRecord> BoardSentRecords(const std::string& serialLog);
// The reader's activity log rows, with the dated time as visit time.
std::vector<TagRecord> ActivityLogRecords(const std::string& csvPath);
std::string ActivityLogPath(const SandboxRun& run);

// Compares what the RTC received with what the board sent and the reader
// logged: each record exactly once, with its logged time and its fields.
// Returns the first difference in words, empty when all is well.
std::string CompareDelivery(const std::vector<TagRecord>& sent, const std::vector<TagRecord>& logged,
                            const std::vector<TagRecord>& delivered);

// Polls done every 50 ms until it holds or the bound passes.
bool WaitUntil(const std::function<bool()>& done, int timeoutSeconds);
