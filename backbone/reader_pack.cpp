// The package being assembled: its hand-over to the outgoing queue, the
// write of queued packages to the RTC, and their CSV trace.
#include <sys/time.h>
#include "platform/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>
#include <variant>

#include "backbone/backbone_iface.h"
#include "backbone/messages.h"
#include "backbone/msg_queue.h"
#include "backbone/reader_pack.h"
#include "backbone/tag_records.h"
#include "params/working_params.h"
#include "platform/format.h"
#include "platform/paths.h"
#include "platform/timing.h"
#include "tags/csv_rows.h"

std::mutex ReaderPackMutex;
uint8_t PrintReaderData = 0;

namespace {

// Serialises the lines of the trace: the sender and the shutdown path may
// both write packages.
std::mutex ReaderDataPackFileMutex;

constexpr char kReaderDataPackHeader[] =
    "TagDataPac:, TimeStamp, Tag ID, Msg ID, RSSI, Activity:, Steps, Lying Count, Lying time, Standing\n"
    "Diagnostics:, Battery Status , Reset cause, LF Noise level, Message Success rate, Reset counter, "
    "Average RSSI\n";

// A package grows to this many serialised bytes; the entry that passes it
// still travels in it.
constexpr int kReaderPackLimit = 1024;
constexpr size_t kTagsDataKeySize = 1;  // field 1, wire type 2

size_t VarintSize(size_t value) {
    size_t bytes = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++bytes;
    }
    return bytes;
}

uint64_t NowMillis() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return MillisSinceEpoch(now);
}

// The addition's name in its log line, after the report's kind.
const char* AdditionName(const TagReport& report) {
    if (std::holds_alternative<STANDARD_REPORT_STD>(report)) return "AddTagVisitData";
    if (std::holds_alternative<PARAMS_REPORT_STD>(report)) return "AddTagParamData";
    return "AddTagDiagData";
}

void WriteTrace(FILE* file, const std::string& text) {
    std::fputs(text.c_str(), file);
    std::fflush(file);
}

// A parameters entry has neither activity nor diagnostics and leaves its
// line open: the next entry continues it, as the trace always did.
void TraceEntry(FILE* file, const RFTagDataPackage& entry) {
    const time_t visit = static_cast<time_t>(entry.visit_timestamp() / 1000);
    WriteTrace(file, Format("TagDataPac:, %s, %u, %u, %d, ", DateText(visit).c_str(), entry.tag_id(),
                            entry.tag_msg_id(), entry.tag_msg_rssi()));
    if (entry.has_activity_data()) {
        const RFTagActivityData& a = entry.activity_data();
        WriteTrace(file, Format("Activity:, %u, %u, %u, %u\n", a.pedo_steps(), a.laying_count(), a.laying_time(),
                                a.standing_time()));
    }
    if (entry.has_diag_info()) {
        const RFTagDiagnosticsInformation& d = entry.diag_info();
        WriteTrace(file, Format("Diagnostics:, %llu, %u, %u, %u, %u,  %u\n",
                                static_cast<unsigned long long>(d.battery_status()), d.last_reset_cause(),
                                d.lf_noise_level(), d.msg_success_rate(), d.recovery_reset_counter(),
                                d.rssi_avg_in_received_packets()));
    }
}

}  // namespace

void BackBoneIface::EmptyReaderPack() {
    std::lock_guard<std::mutex> lock(ReaderPackMutex);
    HandOverLocked();
}

void BackBoneIface::HandOverLocked() {
    try {
        ReaderPack.mutable_message_header()->set_message_index(NextMsgIndex++);
        ReaderPack.set_package_timestamp(NowMillis());
        Outgoing.AddMsgToQ(ReaderPack);
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "BackBoneIface::EmptyReaderPack: caught an exception (%s)", e.what());
    }
    ReaderPack.Clear();
    ReaderPackSize = 0;
    ReaderPackUnjournaledMicros = 0;
}

bool BackBoneIface::HoldsUnjournaledOlderThanLocked(long long micros) const {
    return ReaderPackSize > 0 && ReaderPackUnjournaledMicros != 0 &&
           MonotonicMicros() - ReaderPackUnjournaledMicros >= micros;
}

bool BackBoneIface::HandOverOlderThan(long long micros) {
    std::lock_guard<std::mutex> lock(ReaderPackMutex);
    if (!HoldsUnjournaledOlderThanLocked(micros)) return false;
    HandOverLocked();
    return true;
}

bool BackBoneIface::JournalCopyOlderThan(long long micros) {
    std::lock_guard<std::mutex> lock(ReaderPackMutex);
    if (!HoldsUnjournaledOlderThanLocked(micros)) return false;
    try {
        // Stamped as its hand-over will stamp it.
        ZemloReaderDataPackage copy(ReaderPack);
        copy.mutable_message_header()->set_message_index(NextMsgIndex);
        copy.set_package_timestamp(NowMillis());
        Outgoing.JournalGrowingPackage(copy);
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "BackBoneIface::JournalCopyOlderThan: caught an exception (%s)", e.what());
    }
    ReaderPackUnjournaledMicros = 0;
    return true;
}

void BackBoneIface::NoteUnjournaledLocked() {
    if (ReaderPackSize > 0 && ReaderPackUnjournaledMicros == 0) ReaderPackUnjournaledMicros = MonotonicMicros();
}

void BackBoneIface::ContinueMsgIndexAbove(uint64_t index) {
    std::lock_guard<std::mutex> lock(ReaderPackMutex);
    if (index >= NextMsgIndex) NextMsgIndex = index + 1;
}

// The package's size grows by each entry's own wire size (its key, its
// length and its bytes), which is what serialising the whole package again
// would tell, at a fraction of the cost.
int BackBoneIface::AddTagRecord(const TimedSubGMsg& record) {
    const bool params = std::holds_alternative<PARAMS_REPORT_STD>(record.report);
    const int32_t workingChann = params ? SnapshotWorkingParams().WorkingChann : 0;
    std::lock_guard<std::mutex> lock(ReaderPackMutex);
    try {
        RFTagDataPackage* entry = ReaderPack.add_tags_data();
        FillTagEntry(record, workingChann, entry);
        const size_t entrySize = entry->ByteSizeLong();
        ReaderPackSize += static_cast<int>(kTagsDataKeySize + VarintSize(entrySize) + entrySize);
        NoteUnjournaledLocked();
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "BackBoneIface::%s: caught an exception (%s)", AdditionName(record.report), e.what());
        ReaderPack.mutable_tags_data()->RemoveLast();
        return 0;
    }
    if (ReaderPackSize > kReaderPackLimit) HandOverLocked();
    return ReaderPackSize;
}

int BackBoneIface::FlushReaderPack(ZemloReaderDataPackage package, uint64_t connection) {
    // Only a paired link takes data; nothing is prepared or traced before.
    if (!IsPaired()) return 0;
    std::string envelope;
    try {
        if (!BuildDataPackageEnvelope(&package, NowMillis(), &envelope)) {
            LogLine(LOG_ERR, "BackBoneIface::FlushReaderPack: Failed to write length");
            return 0;
        }
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "BackBoneIface::FlushReaderPack: caught anexception (%s)", e.what());
        return 0;
    }
    PrintReaderDataPack(package);
    if (!SendWhile(RTC_PAIRED, envelope, connection)) return 0;
    // The progress update follows the package it reports on.
    if (SurveyProgressPending()) FlushKeepAlive();
    return static_cast<int>(envelope.size());
}

int BackBoneIface::AddNewReaderPackData(const ZemloReaderDataPackage& package) {
    std::lock_guard<std::mutex> lock(ReaderPackMutex);
    if (ReaderPackSize != 0) return 0;
    try {
        ReaderPack.CopyFrom(package);
        ReaderPackSize = static_cast<int>(ReaderPack.ByteSizeLong());
        NoteUnjournaledLocked();
        return 1;
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "BackBoneIface::AddNewReaderPackData: caught an exception (%s)", e.what());
        ReaderPack.Clear();
        ReaderPackSize = 0;
        return 0;
    }
}

int BackBoneIface::GetReaderPackSize() {
    std::lock_guard<std::mutex> lock(ReaderPackMutex);
    return ReaderPackSize;
}

void BackBoneIface::OpenReaderDataPackFile() {
    const std::string path = StampedCsvPath(LogDir, kReaderDataPackLogBase, time(nullptr));
    std::lock_guard<std::mutex> lock(ReaderDataPackFileMutex);
    ReaderDataPackFile = std::fopen(path.c_str(), "w+");
    if (ReaderDataPackFile == nullptr) {
        LogLine(LOG_ERR, "BackBoneIface::OpenReaderDataPackFile: failed to open %s (%s)", path.c_str(),
               strerror(errno));
        return;
    }
    LogLine(LOG_DEBUG, "BackBoneIface::OpenReaderDataPackFile: opened file %s", path.c_str());
    WriteTrace(ReaderDataPackFile, kReaderDataPackHeader);
}

void BackBoneIface::PrintReaderDataPack(const ZemloReaderDataPackage& package) {
    if (PrintReaderData != 1) return;
    std::lock_guard<std::mutex> lock(ReaderDataPackFileMutex);
    if (ReaderDataPackFile == nullptr) return;
    try {
        for (const RFTagDataPackage& entry : package.tags_data()) TraceEntry(ReaderDataPackFile, entry);
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "BackBoneIface::PrintReaderDataPack: caught an exception (%s)", e.what());
    }
}
