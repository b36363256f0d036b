#include "tags/csv_rows.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/format.h"

namespace {

struct CsvLogNaming {
    const char* base;  // the name before its time stamp
    const char* header;
};

// In CsvLog order.
constexpr CsvLogNaming kNaming[kCsvLogCount] = {
    {"TagsActivity",
     "RADIO, Sec,MiliSec,\tTagID,\tMsgID,\tSteps,\tStandingTime,\tLying Num,\tLying Time,\tRSSI,\tPosition,"
     "\tJustStoodUp\n"},
    {"Diag", nullptr},
    {"TagDiag",
     "TagID, Date, DiagStructVersionId, NumOfFirmwareLoads, NumOfRecoveryResets, LastRecoveryResetCauseId, "
     "ParameterOutOfRangeRX, ParameterOutOfRangeInRAM, MsgSuccessRate, LF_NoiseLevel, BatteryStatus, RSSI, "
     "Temperature, FW vers, APP ID, BitMask, CRC\n"},
    {"TagParam",
     "TagID, Date, SubgSteadyStateInterval, SubgSteadyStateNumOfRetries, SubgChannelDetectInterval, "
     "SubgNoCommsTimeOut, BeaconSearchDuration, MemsDeltaY, MemsRange, MemsLevelLow, MemsLevelHigh\n"},
    {"MEMSCalcParam_",
     "TagID, Date, seconds, milliseconds, minimum acceleration exceptions, Step recognition time slot, minimum "
     "step to change from standing to walking,Standing to walking time slot, walk to stand change delay \n"},
    {"RawData", "TagID, Date, seconds, miliseconds, Data\n"},
    {"RSSI", nullptr},
    {"PERTest", nullptr},
};

constexpr char kCsvExtension[] = ".csv";

// What LogStamp and the extension make: "_", six digits, "_", four digits, ".csv".
bool IsStampAndExtension(const std::string& rest) {
    const std::string shape = std::string("_######_####") + kCsvExtension;
    if (rest.size() != shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool matches = shape[i] == '#' ? std::isdigit(static_cast<unsigned char>(rest[i])) != 0
                                             : rest[i] == shape[i];
        if (!matches) return false;
    }
    return true;
}

constexpr uint8_t kPositionMask = 0x7F;
constexpr uint8_t kJustStoodUpBit = 0x80;
constexpr uint8_t kAppIdBit = 0x80;
constexpr uint8_t kFirmwareMask = 0x7F;

const char* PositionText(uint32_t flags) {
    switch (flags & kPositionMask) {
        case 1:
        case 2: return "Lying";
        case 3:
        case 4: return "Standing";
        default: return "Unknown";
    }
}

// The ten columns that both activity rows begin with.
std::string ActivityColumns(const TimedSubGMsg& r) {
    const STANDARD_REPORT_STD& report = std::get<STANDARD_REPORT_STD>(r.report);
    return Format("%s, %lu, %ld, %d, %d, %d, %d, %d, %d, %d", RadioName(r.radio),
                  static_cast<unsigned long>(r.seconds), static_cast<long>(r.micros / 1000),
                  static_cast<int32_t>(r.tagId), r.msgId, report.Steps, report.StandingTime, report.LyingNum,
                  report.LyingTime, r.rssi);
}

// The tag ID and the date text that the tags' own logs begin with.
std::string TagAndDate(uint32_t tagId, time_t now) {
    return Format("%d, %s", static_cast<int32_t>(tagId), DateText(now).c_str());
}

std::string DiagCommonColumns(const TagDiagCommon& d) {
    return Format(", %x, %d, %d, %x, %d, %d, %d, %d, %d, %d, %d", d.DiagStructVersionId, d.NumOfFirmwareLoads,
                  d.NumOfRecoveryResets, d.LastRecoveryResetCauseId, d.ParameterOutOfRangeRX,
                  d.ParameterOutOfRangeInRAM, d.MsgSuccessRate, d.LF_NoiseLevel, d.BatteryStatus, -d.RSSI,
                  d.Temperature);
}

}  // namespace

std::string LogStamp(time_t when) {
    struct tm local;
    char stamp[32] = "";
    if (localtime_r(&when, &local)) std::strftime(stamp, sizeof(stamp), "_%y%m%d_%H%M", &local);
    return stamp;
}

std::string StampedCsvPath(const char* dir, const char* base, time_t when) {
    return Format("%s/%s%s%s", dir, base, LogStamp(when).c_str(), kCsvExtension);
}

std::string CsvLogPath(CsvLog log, const char* dir, time_t when) {
    return StampedCsvPath(dir, kNaming[static_cast<int>(log)].base, when);
}

bool IsStampedCsvLogName(const std::string& name) {
    auto stampedAfter = [&name](const char* base) {
        const size_t length = std::strlen(base);
        return name.compare(0, length, base) == 0 && IsStampAndExtension(name.substr(length));
    };
    for (const CsvLogNaming& naming : kNaming)
        if (stampedAfter(naming.base)) return true;
    return stampedAfter(kReaderDiagLogBase) || stampedAfter(kReaderDataPackLogBase);
}

const char* CsvLogHeader(CsvLog log) { return kNaming[static_cast<int>(log)].header; }

std::string DateText(time_t when) {
    char text[64] = "";
    if (!ctime_r(&when, text)) return "";
    text[std::strcspn(text, "\n")] = '\0';
    return text;
}

std::string FormatActivityRow(const TimedSubGMsg& record) {
    return ActivityColumns(record) + Format(", %s, %s\n", PositionText(record.activityFlags),
                                                         (record.activityFlags & kJustStoodUpBit) ? "True" : "False");
}

std::string FormatJustStoodUpRow(const TimedSubGMsg& record) {
    return ActivityColumns(record) + Format(", %d, True\n", static_cast<int>(record.activityFlags));
}

std::string FormatTagDiagRow(uint32_t tagId, time_t now, const TAG_DIAGNOSTICS_STD& d) {
    return TagAndDate(tagId, now) + DiagCommonColumns(d.common) +
           Format(", %d, %d, %x, %x\n", d.FirmwareByte & kFirmwareMask, 0, d.BitMask, d.CRC);
}

std::string FormatTagDiagRow(uint32_t tagId, time_t now, const TAG_DIAGNOSTICS_STD_001& d) {
    return TagAndDate(tagId, now) + DiagCommonColumns(d.common) +
           Format(", %d.%d.%d, %d, %x, %x\n", d.FwMajor, d.FwMinor, d.FwBugFix, (d.AppId & kAppIdBit) ? 1 : 0,
                  d.BitMask, d.CRC);
}

std::string FormatTagParamRow(uint32_t tagId, time_t now, const PARAMS_REPORT_STD& p) {
    return TagAndDate(tagId, now) +
           Format(", %d, %d, %d, %d, %d, %d, %d, %d, %d\n", p.SubgSteadyStateInterval, p.SubgSteadyStateNumOfRetries,
                  p.SubgChannelDetectInterval, p.SubgNoCommsTimeOut, p.BeaconSearchDuration, p.MemsDeltaY, p.MemsRange,
                  p.MemsLevelLow, p.MemsLevelHigh);
}

std::string FormatMEMSCalcRow(uint32_t tagId, const timeval& now, const uint8_t* body) {
    MEMSCalcData m = DecodeMEMSCalc(body);
    return Format("%d, %lu, %ld, %d, %d, %d, %d, %d\n", static_cast<int32_t>(tagId),
                  static_cast<unsigned long>(now.tv_sec), static_cast<long>(now.tv_usec), m.minAccelExceptions,
                  m.stepRecogTimeSlot, m.minStepsStandToWalk, m.standToWalkTimeSlot, m.walkToStandDelay);
}

std::string FormatRawDataRow(uint32_t tagId, const timeval& now, const uint8_t* data, int n) {
    std::string row = Format("%d, %lu, %ld ", static_cast<int32_t>(tagId), static_cast<unsigned long>(now.tv_sec),
                             static_cast<long>(now.tv_usec));
    for (int i = 0; i < n; ++i) row += Format(",%x ", data[i]);
    return row + "\n";
}

std::string FormatPERRow(const timeval& msgTime, uint32_t tagId, uint8_t msgId, uint8_t perByte) {
    return Format("%lu, %ld, %d, %d, %d\n", static_cast<unsigned long>(msgTime.tv_sec),
                  static_cast<long>(msgTime.tv_usec / 1000), static_cast<int32_t>(tagId), msgId, -perByte);
}

std::string FormatRSSIRow(time_t now, const char* radio, double mhz, int dbm) {
    return Format("%s, %s, %.3f, %d\n", DateText(now).c_str(), radio, mhz, dbm);
}
