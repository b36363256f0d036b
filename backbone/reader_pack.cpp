// The package being assembled: its hand-over to the outgoing queue, the
// write of queued packages to the RTC, and their CSV trace.
#include <sys/stat.h>
#include <sys/time.h>
#include <syslog.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>

#include "app/options.h"
#include "backbone/backbone_iface.h"
#include "backbone/messages.h"
#include "backbone/msg_queue.h"
#include "tags/csv_rows.h"

std::mutex ReaderPackMutex;

namespace {

// Serialises the lines of the trace: the sender and the shutdown path may
// both write packages.
std::mutex ReaderDataPackFileMutex;

constexpr char kReaderDataPackHeader[] =
    "TagDataPac:, TimeStamp, Tag ID, Msg ID, RSSI, Activity:, Steps, Lying Count, Lying time, Standing\n"
    "Diagnostics:, Battery Status , Reset cause, LF Noise level, Message Success rate, Reset counter, "
    "Average RSSI\n";

uint64_t NowMillis() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return MillisSinceEpoch(now);
}

void WriteTrace(FILE* file, const std::string& text) {
    std::fputs(text.c_str(), file);
    std::fflush(file);
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
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
    const uint64_t now = NowMillis();
    std::lock_guard<std::mutex> lock(ReaderPackMutex);
    try {
        ReaderPack.mutable_message_header()->set_message_index(NextMsgIndex++);
        ReaderPack.set_package_timestamp(now);
        AddMsgToQ(ReaderPack);
    } catch (const std::exception& e) {
        syslog(LOG_ERR, "BackBoneIface::EmptyReaderPack: caught an exception (%s)", e.what());
    }
    ReaderPack.Clear();
    ReaderPackSize = 0;
}

int BackBoneIface::FlushReaderPack(ZemloReaderDataPackage package) {
    // Only a paired link takes data; nothing is prepared or traced before.
    if (!IsPaired()) return 0;
    std::string envelope;
    try {
        if (!BuildDataPackageEnvelope(&package, NowMillis(), &envelope)) {
            syslog(LOG_ERR, "BackBoneIface::FlushReaderPack: Failed to write length");
            return 0;
        }
    } catch (const std::exception& e) {
        syslog(LOG_ERR, "BackBoneIface::FlushReaderPack: caught anexception (%s)", e.what());
        return 0;
    }
    PrintReaderDataPack(package);
    if (!SendToRTC(envelope)) return 0;
    bool progressPending;
    {
        std::lock_guard<std::mutex> lock(ReaderPackMutex);
        progressPending = SurveyProgress.has_survey_progress();
    }
    // The progress update follows the package it reports on.
    if (progressPending) FlushKeepAlive();
    return static_cast<int>(envelope.size());
}

int BackBoneIface::AddNewReaderPackData(const ZemloReaderDataPackage& package) {
    std::lock_guard<std::mutex> lock(ReaderPackMutex);
    if (ReaderPackSize != 0) return 0;
    try {
        ReaderPack.CopyFrom(package);
        ReaderPackSize = static_cast<int>(ReaderPack.ByteSizeLong());
        return 1;
    } catch (const std::exception& e) {
        syslog(LOG_ERR, "BackBoneIface::AddNewReaderPackData: caught an exception (%s)", e.what());
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
    struct stat st;
    const char* dir = stat("/home", &st) == 0 ? "/home" : "/tmp";
    const std::string path = std::string(dir) + "/ReaderDataPack" + LogStamp(time(nullptr)) + ".csv";
    std::lock_guard<std::mutex> lock(ReaderDataPackFileMutex);
    ReaderDataPackFile = std::fopen(path.c_str(), "w+");
    if (ReaderDataPackFile == nullptr) {
        syslog(LOG_ERR, "BackBoneIface::OpenReaderDataPackFile: failed to open %s (%s)", path.c_str(),
               strerror(errno));
        return;
    }
    syslog(LOG_DEBUG, "BackBoneIface::OpenReaderDataPackFile: opened file %s", path.c_str());
    WriteTrace(ReaderDataPackFile, kReaderDataPackHeader);
}

void BackBoneIface::PrintReaderDataPack(const ZemloReaderDataPackage& package) {
    if (PrintReaderData != 1) return;
    std::lock_guard<std::mutex> lock(ReaderDataPackFileMutex);
    if (ReaderDataPackFile == nullptr) return;
    try {
        for (const RFTagDataPackage& entry : package.tags_data()) TraceEntry(ReaderDataPackFile, entry);
    } catch (const std::exception& e) {
        syslog(LOG_ERR, "BackBoneIface::PrintReaderDataPack: caught an exception (%s)", e.what());
    }
}
