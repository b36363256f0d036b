#include "subgconfig/versions.h"

#include <syslog.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/byte_order.h"
#include "params/working_params.h"
#include "platform/atomic_file.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "subg/display_setting.h"
#include "subg/scheduler.h"
#include "subgconfig/frequencies.h"

uint8_t SubGSwVersion[3] = {0, 0, 0};
uint8_t SubGBoardGVT[kGVTSize] = {};
std::atomic<uint8_t> GVTUpdated{0};

namespace {

constexpr int kVersionReplyBytes = 3;
constexpr int kChecksumReplyBytes = 5;
constexpr uint8_t kNoChecksum = 0xFF;

// Version numbers inside the record, first number at the highest byte.
constexpr int kGVTAppVersionTop = 21;
constexpr int kGVTLoaderVersionTop = 27;
constexpr int kGVTBootRomVersionTop = 31;

// The version file's text, made on the parser thread when the versions
// arrive and written by the main thread: no disk I/O on the serial path.
std::mutex VersionFileMutex;
std::string VersionFileText;  // empty: nothing to write

std::string VersionLine(const char* label, int top) {
    char line[64];
    std::snprintf(line, sizeof(line), "%s: %d.%d.%d.%d\n", label, SubGBoardGVT[top], SubGBoardGVT[top - 1],
                  SubGBoardGVT[top - 2], SubGBoardGVT[top - 3]);
    return line;
}

void QueueVersionFile() {
    char tarnel[64];
    std::snprintf(tarnel, sizeof(tarnel), "Tarnel version: %d.%d.%d.%d\n", kTarnelVersion[0], kTarnelVersion[1],
                  kTarnelVersion[2], kTarnelVersion[3]);
    std::string text = VersionLine("SubGBoard Bootrom", kGVTBootRomVersionTop) +
                       VersionLine("SubGBoard Bootloader", kGVTLoaderVersionTop) +
                       VersionLine("SubGBoard Application", kGVTAppVersionTop) + tarnel;
    std::lock_guard<std::mutex> lock(VersionFileMutex);
    VersionFileText = std::move(text);
}

uint32_t VersionNumber(uint8_t major, uint8_t minor, uint8_t build) {
    return major * 10000u + minor * 100u + build;
}

}  // namespace

ReplyResult HandleGetSWVersion(const T7734FrameReply& reply) {
    if (ReplyDataLen(reply) < kVersionReplyBytes) return kDiscardQueue;
    std::memcpy(SubGSwVersion, reply.data, kVersionReplyBytes);
    uint32_t version = VersionNumber(SubGSwVersion[0], SubGSwVersion[1], SubGSwVersion[2]);
    if (version != CurrentSubGAppVersion()) {
        SetSubGAppVersion(version);
        if (IsOldBoardSoftware(version)) UpdateOldSubGGVT(version);
    }
    if (DisplaySettings) syslog(LOG_DEBUG, "SerialParser: subg_application_version = %u", version);
    // Every (re)connection pushes the whole parameter set and asks for the
    // version record.
    if (!SubGBoardConnected) {
        SetSubGBoardParameters();
        SubGBoardConnected = 1;
        if (HasBootLoader(version)) AddSubGRequest(MakeRequest(SubGOp::GetServiceInfo));
    }
    return kFrameTaken;
}

ReplyResult ParseServiceInfo(const T7734FrameReply& reply) {
    if (ReplyDataLen(reply) < kGVTSize) return kDiscardQueue;
    ParseSubGServiceInfo(reply.data);
    return kFrameTaken;
}

void ParseSubGServiceInfo(const uint8_t* data) {
    syslog(LOG_DEBUG, "ParseSubGServiceInfo: Parsing GVT data");
    std::memcpy(SubGBoardGVT, data, kGVTSize);
    QueueVersionFile();
    ParamsUpdated = 1;
    GVTUpdated = 1;
}

void UpdateOldSubGGVT(uint32_t version) {
    if (!IsOldBoardSoftware(version)) return;
    syslog(LOG_INFO, "UpdateOldSubGGVT: SubGBoard Has no boot loader (SubGVersion = %u", version);
    std::memset(SubGBoardGVT, 0, sizeof(SubGBoardGVT));
    SubGBoardGVT[kGVTAppVersionTop] = static_cast<uint8_t>(version / 10000);
    SubGBoardGVT[kGVTAppVersionTop - 1] = static_cast<uint8_t>((version % 10000) / 100);
    SubGBoardGVT[kGVTAppVersionTop - 2] = static_cast<uint8_t>(version % 100);
    SubGBoardGVT[0] = kHostBuiltGVTFormat;
    ParamsUpdated = 1;
    QueueVersionFile();
    GVTUpdated = 1;
}

void SaveSubGBoardAppVersToFile() {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(VersionFileMutex);
        text.swap(VersionFileText);
    }
    if (text.empty()) return;
    if (!WriteFileAtomically(kSubGVersionFilePath, text.data(), text.size())) {
        syslog(LOG_ERR, "SaveSubGBoardAppVersToFile: failed to open %s (%s)", kSubGVersionFilePath,
               strerror(errno));
        return;
    }
    syslog(LOG_DEBUG, "SaveSubGBoardAppVersToFile: opened file %s", kSubGVersionFilePath);
}

ReplyResult ParseSUbGCheckSum(const T7734FrameReply& reply) {
    if (ReplyDataLen(reply) < 1 || reply.data[0] == kNoChecksum) return kFrameTaken;
    if (ReplyDataLen(reply) < kChecksumReplyBytes) return kDiscardQueue;
    uint32_t checksum = GetLE32(reply.data + 1);
    syslog(LOG_DEBUG, "\nSubGBoardApp checksum = %u %x\n", checksum, checksum);
    std::fprintf(stderr, "\nSubGBoardApp checksum = %u %x\n", checksum, checksum);
    return kFrameTaken;
}
