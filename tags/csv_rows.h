// Names, header lines and rows of the local CSV logs. Pure formatting; the
// files themselves are handled in csv_logs.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "tags/tag_decode.h"

enum class CsvLog { TagsActivity, Diag, TagDiag, TagParam, MEMSCalc, RawData, RSSI, PERTest };
constexpr int kCsvLogCount = 8;

// "_%y%m%d_%H%M" of the local time.
std::string LogStamp(time_t when);

// The bases of the backbone's own logs, which lie beside these.
constexpr char kReaderDiagLogBase[] = "ReaderDiag";
constexpr char kReaderDataPackLogBase[] = "ReaderDataPack";

// dir/<base><LogStamp(when)>.csv: the name of a log opened at when.
std::string StampedCsvPath(const char* dir, const char* base, time_t when);

// The log's file name in dir for a log opened at when.
std::string CsvLogPath(CsvLog log, const char* dir, time_t when);

// Whether a file name (without its directory) is one the daemon gives its
// CSV logs: one of the bases above or of CsvLog, then a time stamp and ".csv".
bool IsStampedCsvLogName(const std::string& name);

// The line written right after the log is opened; nullptr: none.
const char* CsvLogHeader(CsvLog log);

// The local time in the C library's ctime form, without its line break.
std::string DateText(time_t when);

// Tags' activity log, from records of the activity kinds: an activity
// report, and a just-stood-up report ending its message.
std::string FormatActivityRow(const TimedSubGMsg& record);
std::string FormatJustStoodUpRow(const TimedSubGMsg& record);

// The tags' diagnostics, of either structure version, and parameters.
std::string FormatTagDiagRow(uint32_t tagId, time_t now, const TAG_DIAGNOSTICS_STD& d);
std::string FormatTagDiagRow(uint32_t tagId, time_t now, const TAG_DIAGNOSTICS_STD_001& d);
std::string FormatTagParamRow(uint32_t tagId, time_t now, const PARAMS_REPORT_STD& p);

// Bodies as they come in the message: MEMS calculation data, raw data bytes.
std::string FormatMEMSCalcRow(uint32_t tagId, const timeval& now, const uint8_t* body);
std::string FormatRawDataRow(uint32_t tagId, const timeval& now, const uint8_t* data, int n);

// PER test: the tag message's time, tag, message ID and PER byte.
std::string FormatPERRow(const timeval& msgTime, uint32_t tagId, uint8_t msgId, uint8_t perByte);

// RSSI reading of a radio on a frequency.
std::string FormatRSSIRow(time_t now, const char* radio, double mhz, int dbm);
