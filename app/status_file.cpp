#include "app/status_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "backbone/backbone_thread.h"
#include "backbone/rtc_handlers.h"
#include "params/program_version.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "platform/flat_json.h"
#include "subg/scheduler.h"
#include "subgconfig/versions.h"
#include "tags/sub_msg_list.h"

namespace {

constexpr long long kMinuteMicros = 60LL * 1000 * 1000;
// Far beyond any status file: a larger one is not ours.
constexpr size_t kMaxStatusFileBytes = 64 * 1024;

const char* StateName(eRTCCommState state) {
    switch (state) {
        case RTC_IDLE: return "idle";
        case RTC_DISCOVERED: return "discovered";
        case RTC_CONNECTING: return "connecting";
        case RTC_CONNECTED: return "connected";
        case RTC_PAIRED: return "paired";
    }
    return "unknown";
}

std::string UtcText(time_t t) {
    tm parts{};
    char text[32];
    if (gmtime_r(&t, &parts) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0)
        return std::to_string(t);
    return text;
}

void TimeOrNull(FlatJsonWriter* json, const char* key, time_t t) {
    if (t == 0) {
        json->Null(key);
    } else {
        json->Text(key, UtcText(t));
    }
}

void VersionOrNull(FlatJsonWriter* json, const char* key, bool known, uint32_t version) {
    if (known) {
        json->Text(key, DottedVersion(version));
    } else {
        json->Null(key);
    }
}

bool ReadSmallFile(const char* path, std::string* text) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    text->resize(kMaxStatusFileBytes + 1);
    text->resize(std::fread(&(*text)[0], 1, text->size(), file));
    std::fclose(file);
    return true;
}


}  // namespace

std::string StatusJson(const ReaderStatus& s) {
    FlatJsonWriter json;
    json.Text("written", UtcText(s.written));
    json.Text("version", s.version);
    json.Number("uptime_seconds", s.uptimeSeconds);
    json.Bool("board_connected", s.boardConnected);
    VersionOrNull(&json, "board_application", s.boardVersionsKnown, s.boardApplication);
    VersionOrNull(&json, "board_boot_loader", s.boardVersionsKnown, s.boardBootLoader);
    VersionOrNull(&json, "board_boot_rom", s.boardVersionsKnown, s.boardBootRom);
    json.Text("rtc_state", s.rtcState);
    if (s.rtcAddress.empty()) {
        json.Null("rtc_address");
    } else {
        json.Text("rtc_address", s.rtcAddress);
    }
    json.Number("records_waiting", s.recordsWaiting);
    json.Number("packages_queued", s.packagesQueued);
    json.Number("records_last_minute", s.recordsLastMinute);
    TimeOrNull(&json, "last_acknowledgement", s.lastAcknowledgement);
    TimeOrNull(&json, "last_backup_write", s.lastBackupWrite);
    json.Number("backup_bytes_written", s.backupBytesWritten);
    if (s.lastError.time == 0) {
        json.Null("last_error");
    } else {
        json.Text("last_error", s.lastError.text);
    }
    TimeOrNull(&json, "last_error_time", s.lastError.time);
    return json.Finish();
}

int PrintStatusFile(const char* path, FILE* out, FILE* err) {
    std::string text;
    if (!ReadSmallFile(path, &text)) {
        std::fprintf(err, "Tarnel: no status in %s (%s); the daemon writes it every 10 s while it runs\n", path,
                     std::strerror(errno));
        return 1;
    }
    std::vector<FlatJsonField> fields;
    if (text.size() > kMaxStatusFileBytes || !ParseFlatJson(text, &fields)) {
        std::fprintf(err, "Tarnel: %s is not a status file\n", path);
        return 1;
    }
    size_t width = 0;
    for (const FlatJsonField& field : fields) width = std::max(width, field.key.size());
    for (const FlatJsonField& field : fields) {
        const bool none = !field.isText && field.value == "null";
        std::fprintf(out, "%-*s %s\n", static_cast<int>(width + 1), (field.key + ":").c_str(),
                     none ? "none" : field.value.c_str());
    }
    return 0;
}

void MinuteIncrease::Sample(long long nowMicros, uint64_t total) {
    samples_.emplace_back(nowMicros, total);
    // The oldest sample kept is the newest one a minute old or older.
    while (samples_.size() > 1 && samples_[1].first <= nowMicros - kMinuteMicros) samples_.pop_front();
}

uint64_t MinuteIncrease::LastMinute() const {
    return samples_.empty() ? 0 : samples_.back().second - samples_.front().second;
}

StatusFileWriter::StatusFileWriter(std::string path, long long startMicros)
    : path_(std::move(path)), startMicros_(startMicros), nextMicros_(startMicros) {
    records_.Sample(startMicros, TagRecordsReceived());
}

ReaderStatus StatusFileWriter::Gather(long long nowMicros) {
    ReaderStatus status;
    status.written = NowSeconds();
    status.version = kTarnelVersionText;
    status.uptimeSeconds = (nowMicros - startMicros_) / 1000000;
    status.boardConnected = SubGBoardConnected != 0;
    const SubGBoardGVTSnapshot gvt = SnapshotSubGBoardGVT();
    status.boardVersionsKnown = gvt.stored > 0;
    status.boardApplication = gvt.ApplicationVersion();
    status.boardBootLoader = gvt.BootLoaderVersion();
    status.boardBootRom = gvt.BootRomVersion();
    const BackboneStatus backbone = ReadBackboneStatus();
    status.rtcState = StateName(backbone.rtcState);
    status.rtcAddress = backbone.rtcAddress;
    status.recordsWaiting = backbone.recordsWaiting;
    status.packagesQueued = static_cast<long long>(backbone.packagesQueued);
    status.lastBackupWrite = backbone.lastBackupWrite;
    status.backupBytesWritten = static_cast<long long>(backbone.backupBytesWritten);
    records_.Sample(nowMicros, TagRecordsReceived());
    status.recordsLastMinute = static_cast<long long>(records_.LastMinute());
    status.lastAcknowledgement = LastPersistAckTime();
    status.lastError = LastLoggedError();
    return status;
}

void StatusFileWriter::Pass(long long nowMicros) {
    if (nowMicros < nextMicros_) return;
    nextMicros_ = nowMicros + kStatusPeriodMicros;
    const std::string json = StatusJson(Gather(nowMicros));
    const bool written = WriteFileAtomically(path_.c_str(), json.data(), json.size());
    // Said once, not every 10 s, until a write succeeds again.
    if (!written && !failing_)
        LogLine(LOG_ERR, "StatusFileWriter: cannot write %s (%s)", path_.c_str(), std::strerror(errno));
    failing_ = !written;
}
