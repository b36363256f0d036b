// The SubG board's own diagnostics (reply to opcode 17): a readable report
// for the diagnostics log, and the summary counters collected into the
// reader diagnostics that the backbone sends to the RTC.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

#include "ZemloReaderDiagnosticsInformation.pb.h"
#include "subg/reply.h"

// Board software up to 1.6.9 puts the two radio frequencies in front.
constexpr int DIAG_BKPSRAM_SIZE = 146;
constexpr int DIAG_BKPSRAM_SIZE_NO_FREQ = 138;

// The summary block at the end of the payload, AvgRSSI already in dBm.
struct SubGDiagnotics {
    uint32_t NoTagRxTime;
    uint32_t TotalTagPack;
    uint32_t CollisionCnt;
    uint32_t BadFormatCnt;
    uint32_t IgnoredOrNackCnt;
    uint32_t FIFO_overFlowCnt;
    int8_t AvgRSSI;
    uint8_t AvgTemperature;
    uint8_t TempExceedCnt;
    uint8_t SubGBoardResetCnt;
    uint8_t SubGErrorCnt;
    uint8_t ForeignTagCnt;
};

// The payload size of the layout the board's software sends.
int DiagnosticsSize(uint32_t subgAppVersion);

// Pure decoding and formatting of a whole payload of `size` bytes.
SubGDiagnotics DecodeSubGDiagnotics(const uint8_t* payload, int size);
std::string FormatDiagnosticsReport(const uint8_t* payload, int size, const uint8_t swVersion[3], time_t now);

// Reply handler, run by the serial parser; the board's application version
// (major, minor, build) goes into the report, and app/ hands it over.
ReplyResult ParseDiagnostics(const T7734FrameReply& reply, const uint8_t swVersion[3]);

// Copies the block into DiagContainer together with the link fault count
// and raises DiagUpdated. Serial parser thread only. The two disconnection
// times belong to the RTC link; the backbone adds them to its copy.
void UpdateDiagnostics(SubGDiagnotics d);

// The backbone's side: a copy of DiagContainer when it holds news since the
// last copy, clearing DiagUpdated. False when there was nothing new.
bool TakeDiagnostics(ZemloReaderDiagnosticsInformation* out);
