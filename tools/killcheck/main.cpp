// tarnel-killcheck DIR: the kill test's judge of delivery. It follows the
// sandbox's records in DIR (the board simulator's serial.log, syslog.log,
// and rtc.log, which the RTC simulator writes with --json --monotonic) and
// answers one line per kill. Each line on standard input names a kill: the
// time taken just before SIGKILL, seconds since the epoch, and a listing of
// the backup's queued records (tarnel-backupdump's output). Each answer:
//   counted=N lost=N oldest_lost_s=S acked_again=N
// The records lost go to DIR/lost.txt, one line each.
#include <google/protobuf/util/json_util.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "RtcAcknowledgePersistedTagData.pb.h"
#include "ZemloReaderDataPackage.pb.h"
#include "tools/killcheck/kill_ledger.h"

namespace {

// Reads a growing file's complete lines, each once.
class LogFollower {
public:
    explicit LogFollower(std::string path) : path_(std::move(path)) {}

    template <typename Handler>
    void ReadNewLines(Handler handle) {
        std::ifstream in(path_, std::ios::binary);
        if (!in) return;
        in.seekg(static_cast<std::streamoff>(offset_));
        std::string text((std::istreambuf_iterator<char>(in)), {});
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            handle(text.substr(start, end - start));
        offset_ += start;  // a line still being written is read next time
    }

private:
    std::string path_;
    size_t offset_ = 0;
};

double Seconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// "<t> SENT op=0 len=N data=<hex>": a tag message; only one activity report
// counts (radio, length, format, tag id in 4 bytes, message id, interval,
// sub-message count, delay count, then the report: type, id, ...).
void ReadSerialLine(const std::string& line, KillLedger* ledger) {
    static const std::string kTagMessage = " SENT op=0 len=";
    const size_t at = line.find(kTagMessage);
    const size_t data = line.find("data=");
    if (at == std::string::npos || data == std::string::npos) return;
    std::vector<uint32_t> d;
    std::istringstream hex(line.substr(data + 5));
    for (std::string byte; hex >> byte;) d.push_back(static_cast<uint32_t>(std::strtoul(byte.c_str(), nullptr, 16)));
    if (d.size() < 21 || d[9] != 1 || d[11] != 1) return;
    ledger->BoardSent({d[3] | d[4] << 8 | d[5] << 16 | d[6] << 24, d[12], std::strtod(line.c_str(), nullptr)});
}

// The loader's last line, whether it found a file or not.
void ReadSyslogLine(const std::string& line, KillLedger* ledger) {
    static const std::string kLoaded = " loaded";
    if (line.find("LoadQFromFile: ") == std::string::npos) return;
    const bool loaded =
        line.size() > kLoaded.size() && line.compare(line.size() - kLoaded.size(), kLoaded.size(), kLoaded) == 0;
    if (loaded || line.find("Failed to open file") != std::string::npos)
        ledger->BackupLoaded(std::strtod(line.c_str(), nullptr));
}

bool ParseJson(const std::string& line, google::protobuf::Message* message) {
    const size_t at = line.find(",\"message\":");
    if (at == std::string::npos || line.size() < at + 12) return false;
    google::protobuf::util::JsonParseOptions options;
    options.ignore_unknown_fields = true;
    return google::protobuf::util::JsonStringToMessage(line.substr(at + 11, line.size() - at - 12), message, options)
        .ok();
}

// realtimeOffset: the real-time clock minus the monotonic one, to place
// the reader's datings (ms since the epoch) on the monotonic clock.
void ReadRtcLine(const std::string& line, double realtimeOffset, KillLedger* ledger) {
    static const std::string kHead = "{\"t\":";
    if (line.compare(0, kHead.size(), kHead) != 0) return;
    const double t = std::strtod(line.c_str() + kHead.size(), nullptr);
    if (line.find("\"dir\":\"recv\"") != std::string::npos &&
        line.find("\"kind\":\"READERDATAPACKAGE\"") != std::string::npos) {
        ZemloReaderDataPackage package;
        if (!ParseJson(line, &package)) return;
        for (const RFTagDataPackage& record : package.tags_data()) {
            ledger->Delivered({record.tag_id(), record.tag_msg_id(),
                               static_cast<double>(record.visit_timestamp()) / 1000 - realtimeOffset});
        }
        ledger->PackageReceived(package.message_header().message_index(), package.package_timestamp(), t);
    } else if (line.find("\"dir\":\"sent\"") != std::string::npos &&
               line.find("\"kind\":\"RTCPERSISTACK\"") != std::string::npos) {
        RtcAcknowledgePersistedTagData ack;
        if (!ParseJson(line, &ack)) return;
        for (uint64_t index : ack.persisted_message_numbers()) ledger->PersistAcked(index, t);
    }
}

// "<message index> <tag id> <tag message id> <visit time ms>" per line.
std::vector<TagRecordSeen> QueuedRecords(const std::string& path, double realtimeOffset) {
    std::vector<TagRecordSeen> records;
    std::ifstream in(path);
    unsigned long long index = 0, visitMs = 0;
    uint32_t tag = 0, msgId = 0;
    while (in >> index >> tag >> msgId >> visitMs)
        records.push_back({tag, msgId, static_cast<double>(visitMs) / 1000 - realtimeOffset});
    return records;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarnel-killcheck DIR   (then one line per kill: EPOCH_SECONDS LISTING)\n");
        return 2;
    }
    const std::string dir = argv[1];
    LogFollower serial(dir + "/serial.log"), syslog(dir + "/syslog.log"), rtc(dir + "/rtc.log");
    std::ofstream lostFile(dir + "/lost.txt", std::ios::app);
    KillLedger ledger;
    double killEpoch = 0;
    std::string listing;
    while (std::cin >> killEpoch >> listing) {
        const double offset = Seconds(CLOCK_REALTIME) - Seconds(CLOCK_MONOTONIC);
        const double killedAt = killEpoch - offset;
        serial.ReadNewLines([&](const std::string& line) { ReadSerialLine(line, &ledger); });
        syslog.ReadNewLines([&](const std::string& line) { ReadSyslogLine(line, &ledger); });
        rtc.ReadNewLines([&](const std::string& line) { ReadRtcLine(line, offset, &ledger); });
        const KillVerdict verdict = ledger.Killed(killedAt, QueuedRecords(listing, offset));
        double oldest = 0;
        for (const TagRecordSeen& r : verdict.lost) {
            oldest = std::max(oldest, killedAt - r.at);
            lostFile << "kill at " << std::fixed << killedAt << ": tag " << r.tag << " message " << r.msgId
                     << " sent at " << r.at << ", " << killedAt - r.at << " s before\n";
        }
        lostFile.flush();
        std::printf("counted=%zu lost=%zu oldest_lost_s=%.3f acked_again=%zu\n", verdict.counted, verdict.lost.size(),
                    oldest, verdict.ackedAgain);
        std::fflush(stdout);
    }
    return 0;
}
