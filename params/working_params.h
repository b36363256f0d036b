// The reader's working parameters: one record in memory, read by every
// subsystem and written through to "./ParamFiles.txt" after each change, so
// that a restart or a power cut brings the same settings back. The file is
// the 118-byte record followed by the channel table; a missing, short or
// damaged file gives the built-in defaults.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "params/program_version.h"

constexpr size_t kWorkingParamsSize = 118;  // the record as stored: packed, little-endian

// Relative on purpose: the daemon runs in its working directory.
inline constexpr char ParamFilName[] = "./ParamFiles.txt";
static_assert(sizeof(ParamFilName) == 17, "the file name fits its 17-byte array");
// A file the load refused (short or failing its checksum), as it was found.
inline constexpr char RefusedParamFilName[] = "./ParamFiles.txt.bad";

// Naturally aligned in memory; only EncodeWorkingParams and
// DecodeWorkingParams know the stored layout.
struct WorkingParamsSt {
    uint8_t Reserved1[4];          // unused, kept as found
    uint32_t SubGAppVersion;       // major * 10000 + minor * 100 + build; 0 while unknown
    uint32_t UserSpaceAppVersion;  // this program's version after a load
    int32_t WorkingChann;          // zero-based index into the channel table
    float RadioFreq;               // MHz, the same for both radios
    int32_t DiagInterval;          // minutes
    int32_t BITInterval;
    uint8_t Reserved2[64];         // unused, kept as found
    int32_t ChannScanInterval;     // minutes
    int32_t RFRegion;              // 0 USA, 1 Europe, 2 Israel
    int32_t KeepAlive;             // seconds towards the RTC; -1 while none was given
    int32_t SiteID;
    int32_t FreqChDelay;           // minutes, 0 to 255
    uint32_t SteadyStateInterval;  // seconds
    uint8_t ChanArrayLen;          // entries of the channel table
    uint8_t CRC;                   // XOR of the first 117 stored bytes
};

// What each radio of the SubG board should be set to, in MHz.
extern std::atomic<float> Radio1Freq;
extern std::atomic<float> Radio2Freq;

// The console's and the board upload's copy of the table length;
// SetChannArray stores it into the record.
extern std::atomic<int> ChannArrayLen;

// Set to 1 by every change that is saved; the backbone clears it once it has
// reported the parameters to the RTC.
extern std::atomic<uint8_t> ParamsUpdated;

// The stored form of a record. The CRC byte is coded as it is in params.
void EncodeWorkingParams(const WorkingParamsSt& params, uint8_t out[kWorkingParamsSize]);
void DecodeWorkingParams(const uint8_t in[kWorkingParamsSize], WorkingParamsSt* params);

// The checksum the record in memory would be saved with.
uint8_t CalcParamCRC();

// Replaces the file with the record and the table. An interrupted or failed
// save leaves the previous file as it was.
void BackupParams();

void InitDefaultParams();

// Loads the file, or applies and saves the defaults when it is missing,
// short or damaged; the bytes of a short or damaged one are kept as
// RefusedParamFilName. A SubG board version already known is kept.
void LoadParams();

// False until LoadParams has run: before that the record is all zeros.
bool WorkingParamsLoaded();

// Each of these changes the record, saves it and sets ParamsUpdated.
void SetDiagInterval(int32_t minutes);
void SetChannArray();
void SetWorkingChann(int32_t channel);
void SetRadioFreq(float mhz);
// Takes everything but the steady-state interval; the frequency follows the
// working channel when the table has it.
void CopyReaderParam(WorkingParamsSt params);
// -1 (connection lost) changes memory only.
void SetKeepAlive(int32_t seconds);
// The link's own values (its starting interval, -1 after a drop): memory only.
void SetKeepAliveUnsaved(int32_t seconds);
void SetSiteID(int32_t siteId);
void SetFreqChDelay(int32_t minutes);
void SetSteadyStateIntervalProc(int32_t seconds);

int32_t GetVersion();

// The SubG board's version as it reports it; kept in memory, saved with the
// next save.
void SetSubGAppVersion(uint32_t version);
uint32_t CurrentSubGAppVersion();

// Consistent copies for readers that need more than one field.
WorkingParamsSt SnapshotWorkingParams();
// The entries the record counts that the table holds.
std::vector<float> SnapshotChanArray();

// Puts a new channel table in place; the counts are left to the caller
// (ChannArrayLen and SetChannArray, or the record's ChanArrayLen).
void ReplaceChanArray(std::vector<float> freqs);
// Puts a new channel table in place together with the record's count and
// ChannArrayLen, in one step: no reader sees new entries with an old count.
// Saving is left to the caller.
void ReplaceChanTable(std::vector<float> freqs);

// Called during a save of the parameter file after the new file is complete
// on disk and before it replaces the old one. Tests use it to interrupt a
// save at that point.
void SetParamSaveHook(void (*hook)());
