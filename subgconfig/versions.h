// What runs on the SubG board: its application version (which connects the
// board), its version record (the GVT) and its application checksum.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "params/board_software.h"
#include "params/program_version.h"
#include "subg/reply.h"

constexpr int kGVTSize = 33;
constexpr uint8_t kHostBuiltGVTFormat = 6;
// Where the record holds each version: four bytes, the last number first,
// so that a little-endian word reads as the version number of an image
// name (first number in the top byte).
constexpr int kGVTApplicationVersionAt = 18;
constexpr int kGVTBootLoaderVersionAt = 24;
constexpr int kGVTBootRomVersionAt = 28;
constexpr const char* kSubGVersionFilePath = "./SubGBoardAppVersion.txt";

extern uint8_t SubGSwVersion[3];
// Set once the board's version record has been stored; cleared while an
// upgrade runs.
extern std::atomic<uint8_t> GVTUpdated;

// The board's version record (the GVT) is this module's own, under its lock
// GVTMutex: the parser and the upgrade thread store it, the backbone and
// the upgrade thread read copies of it.
struct SubGBoardGVTSnapshot {
    uint8_t bytes[kGVTSize];
    // The records stored so far in this run, this one included.
    uint64_t stored;

    uint32_t ApplicationVersion() const;
    uint32_t BootLoaderVersion() const;
    uint32_t BootRomVersion() const;
};

SubGBoardGVTSnapshot SnapshotSubGBoardGVT();
// A version of the record as its image names it, "1.6.10.0".
std::string DottedVersion(uint32_t version);
// Waits at most timeoutMicros for a record stored after the first `stored`
// ones; true with *out the newest record.
bool WaitForSubGBoardGVT(uint64_t stored, int timeoutMicros, SubGBoardGVTSnapshot* out);

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
