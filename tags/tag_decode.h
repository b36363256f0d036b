// Tag messages as the board delivers them (the data of an opcode-0 frame):
// radio number, tag header, sub-messages and the RSSI byte, and the records
// made of them for the backbone. Pure decoding, no I/O.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <variant>

#include "subg/frame.h"
#include "subg/radio.h"

constexpr uint8_t kTagFormatId = 2;

// Sub-message types: the type byte in front of each body.
namespace SubMsgType {
constexpr uint8_t Activity = 1;
constexpr uint8_t Diagnostics = 2;
constexpr uint8_t ActivityNotForwarded = 3;  // dated, but neither handed over nor logged
constexpr uint8_t PERTest = 7;
constexpr uint8_t Skipped = 10;
constexpr uint8_t Parameters = 11;
constexpr uint8_t JustStoodUp = 15;
constexpr uint8_t MEMSCalc = 63;
constexpr uint8_t RawData = 254;
}  // namespace SubMsgType

// Payload: radio byte, then the 10 header bytes, then the sub-messages.
constexpr int kTagMsgHeaderSize = 10;
constexpr int kSubMsgsStart = 1 + kTagMsgHeaderSize;
// The header's packet length counts header bytes 1-9 at least.
constexpr uint8_t kMinPacketLength = kTagMsgHeaderSize - 1;

// Body sizes.
constexpr int kActivityBodySize = 8;
constexpr int kTagDiagSize = 17;        // diagnostics structure version 1
constexpr int kTagDiag001Size = 20;     // diagnostics structure version 2
constexpr int kParamsReportSize = 13;
constexpr int kMEMSCalcSize = 6;
constexpr int kPERTestSize = 1;
constexpr int kSkippedSize = 1;

constexpr uint8_t kTagDiagVersion = 1;
constexpr uint8_t kTagDiag001Version = 2;

// SUB_G_MSG_HEADER_STD_001, decoded.
struct SUB_G_MSG_HEADER_STD_001 {
    uint8_t packetLength;
    uint8_t formatId;
    uint32_t tagId;
    uint8_t msgId;
    uint8_t intervalLength;  // units of 300 s
    uint8_t subMsgCount;
    uint8_t delayCount;
};

// Bodies, decoded from their little-endian bytes.
struct STANDARD_REPORT_STD {
    uint16_t Steps;
    uint16_t StandingTime;
    uint8_t LyingNum;
    uint8_t LyingTime;
};

// Bytes 0-11, the same in both diagnostics versions.
struct TagDiagCommon {
    uint8_t DiagStructVersionId;
    uint8_t NumOfFirmwareLoads;
    uint8_t NumOfRecoveryResets;
    uint8_t LastRecoveryResetCauseId;
    uint8_t ParameterOutOfRangeRX;
    uint8_t ParameterOutOfRangeInRAM;
    uint8_t MsgSuccessRate;
    uint8_t LF_NoiseLevel;
    uint16_t BatteryStatus;
    uint8_t RSSI;  // positive; the value in dBm is its negative
    int8_t Temperature;
};

struct TAG_DIAGNOSTICS_STD {
    TagDiagCommon common;
    uint8_t FirmwareByte;  // bits 0-6 firmware version, bit 7 application 1
    uint8_t BitMask;
    uint8_t ExtraFlags;    // byte 14
    uint8_t CRC;
};

struct TAG_DIAGNOSTICS_STD_001 {
    TagDiagCommon common;
    uint8_t FwMajor;
    uint8_t FwMinor;
    uint8_t FwBugFix;
    uint8_t AppId;
    uint8_t BitMask;
    uint8_t ExtraFlags;  // byte 17
    uint8_t CRC;
};

struct PARAMS_REPORT_STD {
    uint16_t SubgSteadyStateInterval;
    uint8_t SubgSteadyStateNumOfRetries;
    uint16_t SubgChannelDetectInterval;
    uint16_t SubgNoCommsTimeOut;
    uint16_t BeaconSearchDuration;
    uint8_t MemsDeltaY;
    uint8_t MemsRange;
    uint8_t MemsLevelLow;
    uint8_t MemsLevelHigh;
};

struct MEMSCalcData {
    uint8_t minAccelExceptions;
    uint16_t stepRecogTimeSlot;
    uint8_t walkToStandDelay;
    uint8_t minStepsStandToWalk;
    uint8_t standToWalkTimeSlot;
};

MEMSCalcData DecodeMEMSCalc(const uint8_t* bytes);

// The report a record carries: activity (types 1, 3 and 15, body bytes
// 1-6), tag diagnostics of either structure version, or parameters.
using TagReport = std::variant<STANDARD_REPORT_STD, TAG_DIAGNOSTICS_STD, TAG_DIAGNOSTICS_STD_001, PARAMS_REPORT_STD>;

// One record-producing sub-message with its tag message's identity and
// reception, dated later; a plain value, copied whole between threads.
struct TimedSubGMsg {
    uint32_t tagId;
    // Activity kinds: the report's own MsgID (body byte 0); diagnostics and
    // parameters: the message's (header byte 6). The record is dated from it.
    uint8_t msgId;
    uint8_t subMsgType;     // 1, 3, 15, 2 or 11
    uint8_t radio;          // payload byte 0
    int rssi;               // dBm, the whole message's
    uint8_t activityFlags;  // activity body byte 7; activity kinds only
    // Receive time. Unsigned: good until 2106 even where time_t is 32 bits.
    uint32_t seconds;
    uint32_t micros;
    TagReport report;
};

// The smallest record-producing sub-message is a type byte and an activity
// body, so one frame never yields more records than this.
constexpr int kMaxTagRecords = (kMaxFrameData - kSubMsgsStart) / (1 + kActivityBodySize);
// Every kind logged without a record takes at least two bytes.
constexpr int kMaxLoggedSubMsgs = (kMaxFrameData - kSubMsgsStart) / 2;

// A sub-message that gets a row of its own log and no record (PER test,
// MEMS calculation, raw data): its body within the payload.
struct LoggedSubMsg {
    uint8_t type;
    int offset;
    int length;
};

struct TagMessage {
    uint8_t radio;
    SUB_G_MSG_HEADER_STD_001 header;
    int rssi;          // dBm
    timeval msgTime;   // arrival moved back by the delay count
    TimedSubGMsg records[kMaxTagRecords];
    int recordCount;
    LoggedSubMsg logged[kMaxLoggedSubMsgs];  // in message order
    int loggedCount;
    int remaining;     // unconsumed bytes when decoding ended, never below 0
};

enum class TagDecodeStatus {
    Parsed,
    HeaderShort,  // not even the radio byte and the header
    FormatError,
};

// Decodes the payload of one tag message, length bytes. Every read stays
// within them. Sub-messages decoded before a failure stay in out->logged
// and out->records, for their rows; the records are only handed over when
// the result is Parsed.
TagDecodeStatus DecodeTagMessage(const uint8_t* payload, int length, const timeval& arrival, TagMessage* out);

// The RSSI byte read as signed, in dBm.
inline int ConvertRSSI(char raw) { return RssiDbm(static_cast<uint8_t>(raw)); }
