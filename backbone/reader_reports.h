// What the reader reports of itself besides tag data: its diagnostics (and
// their CSV log), its parameters with the version block, the channel
// survey. The BackBoneIface methods live in reader_reports.cpp; these are
// the plain helpers behind them.
#pragma once

#include <cstdint>
#include <string>

#include "ZemloReaderDiagnosticsInformation.pb.h"
#include "subgconfig/versions.h"

// Kept by the reader's watchdog outside this program, which only reads it.
constexpr char ResetCounterFilePath[] = "./HBResetCount";
constexpr char kSignatureFileMark[] = ".signature";
constexpr int kVersionBlockSize = 103;
constexpr uint32_t kOpenWrtVersion = 27575;

// Two two-digit decimal numbers from the signature file's name.
struct CheckSumSt {
    uint8_t bytes[2];
};

// The program's own checksum bytes for the version block; set once at
// start-up, before the backbone runs.
void SetProgramChecksum(uint8_t high, uint8_t low);

// The count on the reset-count file's first line, or -1 when the file is
// missing or unreadable or the count does not fit 32 bits.
int GetResetCount();

// Looks in the working directory for the first file whose name contains
// ".signature". 1 when one was found and its image version read (into
// *imageVersion, and the two numbers behind the version into *out when the
// name has them), else 0.
int FindSignatureFile(CheckSumSt* out, uint32_t* imageVersion);

// The 103-byte version block of the parameters report.
std::string BuildVersionBlock(const uint8_t gvt[kGVTSize], uint32_t packageVersion, uint8_t checksumHigh,
                              uint8_t checksumLow);

// The values of one ReaderDiag CSV line, behind its time text: eleven
// numbers and ten NA columns, line break included.
std::string FormatReaderDiagColumns(const ZemloReaderDiagnosticsInformation& d);
