// What runs on the SubG board: its application version (which connects the
// board), its version record (the GVT) and its application checksum.
#pragma once

#include <atomic>
#include <cstdint>

#include "params/program_version.h"
#include "subg/reply.h"

// Board software up to this version has no boot loader, knows the channel
// tables by itself and sends diagnostics with frequencies.
constexpr uint32_t kLastSubGVersionWithoutLoader = 10609;

// The one test of the board's software age. Version 0 is not known yet: it
// has no boot loader as far as the host can tell, but it is not known old.
constexpr bool HasBootLoader(uint32_t version) { return version > kLastSubGVersionWithoutLoader; }
constexpr bool IsOldBoardSoftware(uint32_t version) { return version != 0 && !HasBootLoader(version); }
constexpr int kGVTSize = 33;
constexpr uint8_t kHostBuiltGVTFormat = 6;
constexpr const char* kSubGVersionFilePath = "./SubGBoardAppVersion.txt";


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
// Writes the version file with the versions last reported, if they have
// not been written yet; run by the main thread, never the serial threads.
void SaveSubGBoardAppVersToFile();
