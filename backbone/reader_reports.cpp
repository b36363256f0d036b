// Reports to the RTC: diagnostics, parameters, channel survey results and
// progress; and the ReaderDiag CSV log.
#include "backbone/reader_reports.h"

#include <dirent.h>
#include "platform/log.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "backbone/backbone_iface.h"
#include "params/working_params.h"
#include "platform/format.h"
#include "platform/paths.h"
#include "tags/csv_rows.h"
#include "upgrade/image_files.h"

namespace {

constexpr char kReaderDiagHeader[] =
    "Time, intr comm, rtc sock, no conn, rssi, no tag tx, user app crash, subg reset, total pack, subg err, "
    "invalid frmt, FIFO of, IP comm loss, long term storage, Avg Temp, Temp Exceed, SubG Collision, Foreign Tag, "
    "Ignored pack, RTC pack failure, Unknown opcodes, RTC NACK\n";
constexpr size_t kResetCountChars = 10;
constexpr size_t kMaxSignatureName = 255;
constexpr size_t kMinSignatureName = 23;
// Behind the prefix: eight version digits and a separator, then the two
// numbers of CheckSumSt.
constexpr size_t kSignatureNumbersAt = 18;
constexpr size_t kSignatureNumbersEnd = kSignatureNumbersAt + 4;
constexpr int kLastRFRegion = 2;

// Guards the parameters report while it is built.
std::mutex ParamMutex;

std::atomic<uint8_t> ProgramChecksumHigh{0};
std::atomic<uint8_t> ProgramChecksumLow{0};

int TwoDigits(const char* text) {
    const char pair[3] = {text[0], text[1], '\0'};
    return static_cast<int>(std::strtol(pair, nullptr, 10));
}

// The version of a signature file's name: 1, with the two numbers behind
// it when the name has them; 0 when no version can be read.
int ReadSignatureName(const char* name, CheckSumSt* out, uint32_t* imageVersion) {
    const int version = GetImageVersion(name);
    if (version == -1) return 0;
    *imageVersion = static_cast<uint32_t>(version);
    if (std::strlen(name) < kMinSignatureName) {
        LogLine(LOG_ERR, "BackBoneIface::FindSignatureFile: file name too short");
        return 1;
    }
    const char* prefix = std::strstr(name, kHostImagePrefix);
    if (prefix == nullptr) {
        LogLine(LOG_ERR, "BackBoneIface::FindSignatureFile: file name %s does not contain %s", name,
               kHostImagePrefix);
        return 1;
    }
    // A prefix late in a long name leaves no room for the numbers.
    if (std::strlen(prefix) < kSignatureNumbersEnd) {
        LogLine(LOG_ERR, "BackBoneIface::FindSignatureFile: file name too short");
        return 1;
    }
    out->bytes[0] = static_cast<uint8_t>(TwoDigits(prefix + kSignatureNumbersAt));
    out->bytes[1] = static_cast<uint8_t>(TwoDigits(prefix + kSignatureNumbersAt + 2));
    LogLine(LOG_DEBUG, "BackBoneIface::FindSignatureFile: image version 0x%X", *imageVersion);
    return 1;
}

void CopyGVT(std::string* block, size_t at, const uint8_t* gvt, size_t from, size_t count) {
    block->replace(at, count, reinterpret_cast<const char*>(gvt + from), count);
}

struct DiagValue {
    const char* label;  // in the debug line
    std::string text;
};

// The eleven counters the reader reports, in the order of the ReaderDiag
// columns. Signed fields print as the log has always shown them.
std::vector<DiagValue> DiagValues(const ZemloReaderDiagnosticsInformation& d) {
    auto number = [](int value) { return Format("%d", value); };
    return {
        {"intr comm", number(static_cast<int>(d.internal_communication_failure_count()))},
        {"rtc sock", number(static_cast<int>(d.rtc_socket_disconnection_time_counter()))},
        {"no conn", number(static_cast<int>(d.overall_no_connection_time()))},
        {"rssi", number(static_cast<int>(d.rssi_noise()))},
        {"no tag tx", number(static_cast<int>(d.no_tag_transmission_time()))},
        {"user app crash", number(static_cast<int>(d.user_space_application_crash_counter()))},
        {"subg reset", number(static_cast<int>(d.subg_board_application_reset_counter()))},
        {"total pack", Format("%llu", static_cast<unsigned long long>(d.total_packets_received()))},
        {"subg err", number(static_cast<int>(d.subg_errors()))},
        {"invalid frmt", number(static_cast<int>(d.invalid_tag_message_format()))},
        {"FIFO of", number(static_cast<int>(d.subg_radio_rx_tx_buffer_overflow()))},
    };
}

std::string DiagDebugLine(const ZemloReaderDiagnosticsInformation& d) {
    std::string line;
    for (const DiagValue& value : DiagValues(d))
        line += (line.empty() ? "" : ", ") + std::string(value.label) + " " + value.text;
    return line;
}

}  // namespace

void SetProgramChecksum(uint8_t high, uint8_t low) {
    ProgramChecksumHigh = high;
    ProgramChecksumLow = low;
}

int GetResetCount() {
    FILE* file = std::fopen(ResetCounterFilePath, "r");
    if (file == nullptr) return -1;
    char text[kResetCountChars + 1] = {};
    const bool read = std::fgets(text, sizeof(text), file) != nullptr;
    std::fclose(file);
    if (!read) return -1;
    errno = 0;
    const long count = std::strtol(text, nullptr, 10);
    if (errno == ERANGE || count >= INT_MAX || count <= INT_MIN) return -1;
    return static_cast<int>(count);
}

int FindSignatureFile(CheckSumSt* out, uint32_t* imageVersion) {
    DIR* dir = opendir("./");
    if (dir == nullptr) {
        LogLine(LOG_ERR, "BackBoneIface::FindSignatureFile: Failed to open directory ./");
        return 0;
    }
    int found = 0;
    while (dirent* entry = readdir(dir)) {
        if (std::strstr(entry->d_name, kSignatureFileMark) == nullptr) continue;
        char name[kMaxSignatureName + 1];
        std::snprintf(name, sizeof(name), "%s", entry->d_name);
        LogLine(LOG_DEBUG, "BackBoneIface::FindSignatureFile: found file %s", name);
        found = ReadSignatureName(name, out, imageVersion);
        break;
    }
    closedir(dir);
    return found;
}

std::string BuildVersionBlock(const uint8_t gvt[kGVTSize], uint32_t packageVersion, uint8_t checksumHigh,
                              uint8_t checksumLow) {
    std::string block(kVersionBlockSize, '\0');
    block[0] = 6;
    CopyGVT(&block, 1, gvt, 1, 8);
    block[9] = 1;
    block[10] = 1;
    CopyGVT(&block, 15, gvt, 15, 3);
    for (int i = 0; i < 4; ++i) block[18 + i] = static_cast<char>(packageVersion >> (8 * i));
    block[32] = 2;
    block[33] = 1;
    block[34] = 26;
    block[35] = 6;
    CopyGVT(&block, 36, gvt, 1, 8);
    block[44] = 1;
    block[45] = 1;
    CopyGVT(&block, 50, gvt, 15, 3);
    block[54] = 11;
    block[55] = 9;
    block[56] = 1;
    block[57] = static_cast<char>(checksumLow);
    block[58] = static_cast<char>(checksumHigh);
    block[68] = 2;
    block[69] = 20;
    CopyGVT(&block, 70, gvt, 0, kGVTSize);
    return block;
}

std::string FormatReaderDiagColumns(const ZemloReaderDiagnosticsInformation& d) {
    std::string columns;
    for (const DiagValue& value : DiagValues(d)) columns += ", " + value.text;
    return columns + ", NA, NA, NA, NA, NA, NA, NA, NA, NA, NA\n";
}

// The file is opened with the first report rather than with the object, so
// that a run without any diagnostics leaves no empty log behind.
void BackBoneIface::OpenReaderDiagFile() {
    ReaderDiagFileTried = true;
    const std::string path = StampedCsvPath(LogDir, kReaderDiagLogBase, time(nullptr));
    ReaderDiagFile = std::fopen(path.c_str(), "w+");
    if (ReaderDiagFile == nullptr) {
        LogLine(LOG_ERR, "BackBoneIface::OpenReaderDiagFile: failed to open %s (%s)", path.c_str(), strerror(errno));
        return;
    }
    LogLine(LOG_DEBUG, "BackBoneIface::OpenReaderDiagFile: opened file %s", path.c_str());
    std::fputs(kReaderDiagHeader, ReaderDiagFile);
    std::fflush(ReaderDiagFile);
}

void BackBoneIface::UpdateReaderDiag(ZemloReaderDiagnosticsInformation diag) {
    try {
        // -1 (no count) travels as its unsigned form.
        diag.set_user_space_application_crash_counter(static_cast<uint32_t>(GetResetCount()));
        std::lock_guard<std::mutex> lock(ReaderPackMutex);
        ReaderPack.mutable_reader_diag_info()->CopyFrom(diag);
        RecountReaderPackLocked();
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "BackBoneIface::UpdateReaderDiag: caught an exception (%s)", e.what());
        return;
    }
    if (!ReaderDiagFileTried) OpenReaderDiagFile();
    if (ReaderDiagFile != nullptr) {
        const std::string line = DateText(time(nullptr)) + FormatReaderDiagColumns(diag);
        std::fputs(line.c_str(), ReaderDiagFile);
        std::fflush(ReaderDiagFile);
    }
    LogLine(LOG_DEBUG, "%s", DiagDebugLine(diag).c_str());
}

void BackBoneIface::UpdateParams() {
    std::lock_guard<std::mutex> params(ParamMutex);
    const WorkingParamsSt p = SnapshotWorkingParams();
    CheckSumSt numbers{};
    uint32_t packageVersion = 0;
    if (FindSignatureFile(&numbers, &packageVersion) == 1) {
        LogLine(LOG_DEBUG, "BackBoneIface::UpdateParams Package version %x.%x.%x.%x", packageVersion >> 24,
               (packageVersion >> 16) & 0xFF, (packageVersion >> 8) & 0xFF, packageVersion & 0xFF);
    } else {
        packageVersion = 0;
    }
    const SubGBoardGVTSnapshot gvt = SnapshotSubGBoardGVT();
    const uint32_t board = gvt.ApplicationVersion();
    LogLine(LOG_DEBUG, "BackBoneIface::UpdateParams SubGBoard version %x.%x.%x.%x", board >> 24, (board >> 16) & 0xFF,
           (board >> 8) & 0xFF, board & 0xFF);
    try {
        std::lock_guard<std::mutex> lock(ReaderPackMutex);
        ZemloReaderParametersInformation* info = ReaderPack.mutable_reader_params_info();
        info->Clear();
        info->set_openwrt_version(kOpenWrtVersion);
        info->set_subg_application_version(p.SubGAppVersion);
        info->set_user_space_application_version(p.UserSpaceAppVersion);
        info->set_working_channel(static_cast<uint32_t>(p.WorkingChann + 1));
        info->set_radio_frequency(p.RadioFreq);
        info->set_diagnostics_sending_interval(static_cast<uint32_t>(p.DiagInterval));
        info->set_bit_running_interval(static_cast<uint32_t>(p.BITInterval));
        info->set_reader_identifier(std::to_string(ReaderId.load()));
        // -1 (none given) travels as its unsigned form.
        info->set_keep_alive_interval(static_cast<uint32_t>(p.KeepAlive));
        info->set_channel_scanning_interval(static_cast<uint32_t>(p.ChannScanInterval));
        if (p.RFRegion >= 0 && p.RFRegion <= kLastRFRegion) {
            info->set_rf_region(static_cast<RFRegionEnum::RFRegion>(p.RFRegion));
        }
        info->set_extra_info(BuildVersionBlock(gvt.bytes, packageVersion, ProgramChecksumHigh, ProgramChecksumLow));
        RecountReaderPackLocked();
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "BackBoneIface::UpdateParams: caught an exception (%s)", e.what());
    }
}

void BackBoneIface::UpdateChannScan(const ZemloChannelSurveyResults& results) {
    try {
        std::lock_guard<std::mutex> lock(ReaderPackMutex);
        ReaderPack.mutable_channel_survey_results()->CopyFrom(results);
        RecountReaderPackLocked();
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "BackBoneIface::UpdateChannScan: caught an exception (%s)", e.what());
    }
}

void BackBoneIface::UpdateChannScanProgress(unsigned channelNumber, unsigned channelScanProgress,
                                            unsigned surveyProgress, unsigned totalChannels) {
    std::lock_guard<std::mutex> lock(SurveyProgressMutex);
    SurveyProgress.set_channel_number(channelNumber);
    SurveyProgress.set_channel_scan_progress(channelScanProgress);
    SurveyProgress.set_survey_progress(surveyProgress);
    SurveyProgress.set_total_channels(totalChannels);
}

// Reports change the package outside its tag entries, whose sizes are
// otherwise added up one by one.
void BackBoneIface::RecountReaderPackLocked() {
    ReaderPackSize = static_cast<int>(ReaderPack.ByteSizeLong());
    NoteUnjournaledLocked();
}
