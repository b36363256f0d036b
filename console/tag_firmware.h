// Tag firmware passed through the SubG board to the tags, in blocks of 128
// bytes queued by the console.
#pragma once

#include <cstdint>
#include <string>

#include "subg/frame.h"

// Remembers the image's path from one run to the next.
inline constexpr char FwFileContainerPath[] = ".//FwFileContianer.txt";
static_assert(sizeof(FwFileContainerPath) == 23, "the path fits its 23-byte array");

constexpr int kTagFwBlockBytes = 128;

// The tag software the image is for, numbered as the operator chooses it.
enum class TagSwGeneration { Sw001 = 1, Sw002 = 2, Sw010101 = 3 };

struct TagFwVersion {
    uint8_t version = 0;  // three digits, tag software 001 and 002
    uint8_t major = 0;    // tag software 01.01.01 and above
    uint8_t minor = 0;
    uint8_t bug = 0;
    uint8_t appId = 0;  // the image's application slot, already in bit 7
};

// Reads the version and the application slot from the image's file name:
// V010203_AP1.bin is 1.2.3 for slot 1 (appId 0x80), V123_AP0.bin version
// 123 for slot 0. 1 when both were found, else 0.
int extractVersion(const std::string& path, TagFwVersion* out);

// Block n of blocks; bytes holds kTagFwBlockBytes, a short last block
// already padded with 0xFF.
T7734FrameRequest TagFwBlockRequest(TagSwGeneration generation, const TagFwVersion& version, uint16_t n,
                                    uint16_t blocks, const uint8_t* bytes);

// The console's commands around the upload.
void GetFwFilePath();
void StartFwLoadPacketByPacket();
void StartFwLoadContinuous();

// Asks for the tag software generation and queues the image block by block,
// waiting for the operator between blocks unless the load is continuous.
void SendFirmware();
