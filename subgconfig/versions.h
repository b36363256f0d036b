// What runs on the SubG board: its application version (which connects the
// board), its version record (the GVT) and its application checksum.
#pragma once

#include <atomic>
#include <cstdint>

#include "subg/reply.h"

// Board software up to this version has no boot loader, knows the channel
// tables by itself and sends diagnostics with frequencies.
constexpr uint32_t kLastSubGVersionWithoutLoader = 10609;
constexpr int kGVTSize = 33;
constexpr uint8_t kHostBuiltGVTFormat = 6;
constexpr const char* kSubGVersionFilePath = "./SubGBoardAppVersion.txt";

// This program's own version, as the version file and the RTC see it.
constexpr int kTarnelVersion[4] = {1, 9, 11, 0};

extern uint8_t SubGSwVersion[3];
// Written whole before GVTUpdated is set; read by the backbone after that.
extern uint8_t SubGBoardGVT[kGVTSize];
extern std::atomic<uint8_t> GVTUpdated;

// Reply handlers, run by the serial parser.
ReplyResult HandleGetSWVersion(const T7734FrameReply& reply);
ReplyResult ParseServiceInfo(const T7734FrameReply& reply);
ReplyResult ParseSUbGCheckSum(const T7734FrameReply& reply);

// Takes kGVTSize bytes of data as the board's version record.
void ParseSubGServiceInfo(const uint8_t* data);
// Builds the version record for board software without a boot loader.
void UpdateOldSubGGVT(uint32_t version);
void SaveSubGBoardAppVersToFile();
