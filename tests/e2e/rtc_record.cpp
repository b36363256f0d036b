#include "rtc_record.h"

#include <glob.h>
#include <google/protobuf/util/json_util.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

namespace {

std::string JsonText(const std::string& line, const std::string& key) {
    std::smatch m;
    std::regex re("\"" + key + "\":\"([^\"]*)\"");
    return std::regex_search(line, m, re) ? m[1].str() : "";
}

const char* PositionOf(uint32_t flags) {
    switch (flags & 0x7F) {
        case 1:
        case 2: return "LYING";
        case 3:
        case 4: return "STANDING";
        default: return "UNKNOWN";
    }
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

std::string Describe(const TagRecord& r) {
    return "tag " + std::to_string(r.tag) + " msg " + std::to_string(r.msgId) + " at " + std::to_string(r.visitMs);
}

}  // namespace

std::vector<RtcLine> RtcLinesOf(const std::string& path) {
    static const std::regex head("^\\{\"t\":([0-9.]+),");
    std::vector<RtcLine> lines;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        std::smatch m;
        if (!std::regex_search(text, m, head)) continue;
        RtcLine line;
        line.t = std::stod(m[1]);
        line.dir = JsonText(text, "dir");
        line.event = JsonText(text, "event");
        // "message" is the line's last member: everything up to the closing brace.
        size_t at = text.find(",\"message\":");
        if (line.dir.empty()) {
            line.kind = "";
        } else {
            line.kind = JsonText(text.substr(0, at), "kind");
            if (at != std::string::npos) line.message = text.substr(at + 11, text.size() - at - 12);
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<RtcLine> RtcLines(const SandboxRun& run) { return RtcLinesOf(run.RtcLogPath()); }

std::vector<RtcLine> Received(const std::vector<RtcLine>& lines, const std::string& kind) {
    std::vector<RtcLine> found;
    for (const RtcLine& line : lines) {
        if (line.dir == "recv" && line.kind == kind) found.push_back(line);
    }
    return found;
}

size_t CountEvents(const std::vector<RtcLine>& lines, const std::string& event) {
    return static_cast<size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const RtcLine& l) { return l.event == event; }));
}

bool ParseMessage(const RtcLine& line, google::protobuf::Message* msg) {
    return google::protobuf::util::JsonStringToMessage(line.message, msg).ok();
}

std::vector<TagRecord> DeliveredRecords(const std::vector<RtcLine>& lines) {
    std::vector<TagRecord> records;
    for (const RtcLine& line : Received(lines, "READERDATAPACKAGE")) {
        ZemloReaderDataPackage package;
        if (!ParseMessage(line, &package)) continue;
        for (const RFTagDataPackage& entry : package.tags_data()) {
            const RFTagActivityData& a = entry.activity_data();
            records.push_back({entry.tag_id(), entry.tag_msg_id(), entry.visit_timestamp(), a.pedo_steps(),
                               a.standing_time(), a.laying_count(), a.laying_time(),
                               RFTagActivityData::PositionType_Name(a.position())});
        }
    }
    return records;
}

std::vector<uint64_t> DeliveredIndices(const std::vector<RtcLine>& lines) {
    std::vector<uint64_t> indices;
    for (const RtcLine& line : Received(lines, "READERDATAPACKAGE")) {
        ZemloReaderDataPackage package;
        if (ParseMessage(line, &package)) indices.push_back(package.message_header().message_index());
    }
    return indices;
}

// A tag message's data: radio, length, format, tag id (4, little-endian),
// message id, interval, sub-message count, delay count, the sub-messages,
// the signal strength. An activity report: type, id, steps (2), standing
// time (2), lying count, lying time, flags.
std::vector<TagRecord> BoardSentRecords(const std::string& serialLog) {
    static const std::regex sent("SENT op=0 len=[0-9]+ data=(.*)$");
    std::vector<TagRecord> records;
    std::ifstream in(serialLog);
    std::string text;
    while (std::getline(in, text)) {
        std::smatch m;
        if (!std::regex_search(text, m, sent)) continue;
        std::vector<uint32_t> d;
        std::istringstream hex(m[1].str());
        std::string byte;
        while (hex >> byte) d.push_back(static_cast<uint32_t>(std::stoul(byte, nullptr, 16)));
        if (d.size() < 21 || d[9] != 1 || d[11] != 1) continue;  // one activity report only
        records.push_back({d[3] | d[4] << 8 | d[5] << 16 | d[6] << 24, d[7], 0, d[13] | d[14] << 8,
                           d[15] | d[16] << 8, d[17], d[18], PositionOf(d[19])});
    }
    return records;
}

// RADIO_n, seconds, milliseconds, tag, message, steps, standing time, lying
// count, lying time, signal, position, just stood up.
std::vector<TagRecord> ActivityLogRecords(const std::string& csvPath) {
    static const std::regex row(
        "^RADIO_[12], ([0-9]+), ([0-9]+), ([0-9]+), ([0-9]+), ([0-9]+), ([0-9]+), ([0-9]+), ([0-9]+), -?[0-9]+, "
        "([A-Za-z]+), ");
    std::vector<TagRecord> records;
    std::ifstream in(csvPath);
    std::string text;
    auto n = [](const std::ssub_match& s) { return static_cast<uint32_t>(std::stoul(s.str())); };
    while (std::getline(in, text)) {
        std::smatch m;
        if (!std::regex_search(text, m, row)) continue;
        records.push_back({n(m[3]), n(m[4]), std::stoull(m[1].str()) * 1000 + n(m[2]), n(m[5]), n(m[6]), n(m[7]),
                           n(m[8]), Upper(m[9].str())});
    }
    return records;
}

std::string ActivityLogPath(const SandboxRun& run) {
    glob_t found{};
    std::string path;
    if (glob((run.Dir() + "/home/TagsActivity_*.csv").c_str(), 0, nullptr, &found) == 0 && found.gl_pathc == 1) {
        path = found.gl_pathv[0];
    }
    globfree(&found);
    return path;
}

std::string CompareDelivery(const std::vector<TagRecord>& sent, const std::vector<TagRecord>& logged,
                            const std::vector<TagRecord>& delivered) {
    if (sent.empty()) return "the board sent no tag message";
    if (logged.size() != sent.size()) {
        return "the board sent " + std::to_string(sent.size()) + " records, the reader logged " +
               std::to_string(logged.size());
    }
    // The log is in the order the board sent: each row must be that message.
    for (size_t i = 0; i < sent.size(); ++i) {
        TagRecord dated = sent[i];
        dated.visitMs = logged[i].visitMs;
        if (!(dated == logged[i])) return "logged row " + std::to_string(i) + " is not the message sent";
    }
    std::map<TagRecord, int> times;
    for (const TagRecord& r : delivered) ++times[r];
    for (const TagRecord& r : logged) {
        int count = times.count(r) ? times[r] : 0;
        if (count != 1) return Describe(r) + " delivered " + std::to_string(count) + " times, fields included";
    }
    if (delivered.size() != logged.size()) {
        return std::to_string(delivered.size()) + " records delivered for " + std::to_string(logged.size()) +
               " logged";
    }
    return "";
}

bool WaitUntil(const std::function<bool()>& done, int timeoutSeconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}
