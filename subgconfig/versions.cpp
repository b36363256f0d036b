#include "subgconfig/versions.h"

#include "platform/log.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
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
std::atomic<uint8_t> GVTUpdated{0};

namespace {

constexpr int kVersionReplyBytes = 3;
constexpr int kChecksumReplyBytes = 5;
constexpr uint8_t kNoChecksum = 0xFF;

std::mutex GVTMutex;
std::condition_variable GVTStored;
uint8_t SubGBoardGVT[kGVTSize] = {};
uint64_t GVTRecordsStored = 0;
// The version file's text, made on the parser thread when the versions
// arrive and written by the main thread: no disk I/O on the serial path.
std::string VersionFileText;  // empty: nothing to write

std::string VersionLine(const char* label, uint32_t version) {
    return std::string(label) + ": " + DottedVersion(version) + "\n";
}

std::string VersionFileTextOf(const uint8_t record[kGVTSize]) {
    char tarnel[64];
    std::snprintf(tarnel, sizeof(tarnel), "Tarnel version: %d.%d.%d.%d\n", kTarnelVersion[0], kTarnelVersion[1],
                  kTarnelVersion[2], kTarnelVersion[3]);
    return VersionLine("SubGBoard Bootrom", GetLE32(record + kGVTBootRomVersionAt)) +
           VersionLine("SubGBoard Bootloader", GetLE32(record + kGVTBootLoaderVersionAt)) +
           VersionLine("SubGBoard Application", GetLE32(record + kGVTApplicationVersionAt)) + tarnel;
}

SubGBoardGVTSnapshot SnapshotLocked() {
    SubGBoardGVTSnapshot copy;
    std::memcpy(copy.bytes, SubGBoardGVT, kGVTSize);
    copy.stored = GVTRecordsStored;
    return copy;
}

// The record and the file's text change together, so that the file never
// shows an older record than the one stored.
void StoreGVT(const uint8_t record[kGVTSize]) {
    std::string text = VersionFileTextOf(record);
    {
        std::lock_guard<std::mutex> lock(GVTMutex);
        std::memcpy(SubGBoardGVT, record, kGVTSize);
        ++GVTRecordsStored;
        VersionFileText.swap(text);
    }
    GVTStored.notify_all();
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
    if (DisplaySettings) LogLine(LOG_DEBUG, "SerialParser: subg_application_version = %u", version);
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
    LogLine(LOG_DEBUG, "ParseSubGServiceInfo: Parsing GVT data");
    StoreGVT(data);
    ParamsUpdated = 1;
    GVTUpdated = 1;
}

void UpdateOldSubGGVT(uint32_t version) {
    if (!IsOldBoardSoftware(version)) return;
    LogLine(LOG_INFO, "UpdateOldSubGGVT: SubGBoard Has no boot loader (SubGVersion = %u", version);
    // Major, minor and build; the fourth number and the boot loader and boot
    // ROM versions stay 0.
    const uint32_t asImageVersion = (version / 10000) << 24 | (version % 10000 / 100) << 16 | (version % 100) << 8;
    uint8_t record[kGVTSize] = {};
    record[0] = kHostBuiltGVTFormat;
    PutLE32(record + kGVTApplicationVersionAt, asImageVersion);
    StoreGVT(record);
    ParamsUpdated = 1;
    GVTUpdated = 1;
}

void SaveSubGBoardAppVersToFile() {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(GVTMutex);
        text.swap(VersionFileText);
    }
    if (text.empty()) return;
    if (!WriteFileAtomically(kSubGVersionFilePath, text.data(), text.size())) {
        LogLine(LOG_ERR, "SaveSubGBoardAppVersToFile: failed to open %s (%s)", kSubGVersionFilePath,
               strerror(errno));
        return;
    }
    LogLine(LOG_DEBUG, "SaveSubGBoardAppVersToFile: opened file %s", kSubGVersionFilePath);
}

std::string DottedVersion(uint32_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", version >> 24, (version >> 16) & 0xFF, (version >> 8) & 0xFF,
                  version & 0xFF);
    return text;
}

uint32_t SubGBoardGVTSnapshot::ApplicationVersion() const { return GetLE32(bytes + kGVTApplicationVersionAt); }
uint32_t SubGBoardGVTSnapshot::BootLoaderVersion() const { return GetLE32(bytes + kGVTBootLoaderVersionAt); }
uint32_t SubGBoardGVTSnapshot::BootRomVersion() const { return GetLE32(bytes + kGVTBootRomVersionAt); }

SubGBoardGVTSnapshot SnapshotSubGBoardGVT() {
    std::lock_guard<std::mutex> lock(GVTMutex);
    return SnapshotLocked();
}

bool WaitForSubGBoardGVT(uint64_t stored, int timeoutMicros, SubGBoardGVTSnapshot* out) {
    std::unique_lock<std::mutex> lock(GVTMutex);
    if (!GVTStored.wait_for(lock, std::chrono::microseconds(timeoutMicros), [&] { return GVTRecordsStored > stored; }))
        return false;
    *out = SnapshotLocked();
    return true;
}

ReplyResult ParseSUbGCheckSum(const T7734FrameReply& reply) {
    if (ReplyDataLen(reply) < 1 || reply.data[0] == kNoChecksum) return kFrameTaken;
    if (ReplyDataLen(reply) < kChecksumReplyBytes) return kDiscardQueue;
    uint32_t checksum = GetLE32(reply.data + 1);
    LogLine(LOG_DEBUG, "\nSubGBoardApp checksum = %u %x\n", checksum, checksum);
    std::fprintf(stderr, "\nSubGBoardApp checksum = %u %x\n", checksum, checksum);
    return kFrameTaken;
}
