// Operation codes of the SubG board's application, its boot ROM and its boot
// loader. A reply carries the opcode of the request it answers.
#pragma once

#include <cstdint>

namespace SubGOp {
constexpr uint8_t TagMessage = 0;          // unsolicited reply: a tag's radio packet
constexpr uint8_t ParamCheck = 1;
constexpr uint8_t SetFreq = 2;
constexpr uint8_t ResetChip = 3;
constexpr uint8_t XtalOff = 4;
constexpr uint8_t XtalOn = 5;
constexpr uint8_t PartNumber = 6;
constexpr uint8_t PartVersion = 7;
constexpr uint8_t ManualCal1 = 8;
constexpr uint8_t ManualCal2 = 9;
constexpr uint8_t SynthOn = 10;
constexpr uint8_t ContinuousWave = 11;
constexpr uint8_t SetOutputPower = 12;
constexpr uint8_t ScanRSSI = 13;
constexpr uint8_t StopScanRSSI = 14;
constexpr uint8_t StartPERTest = 15;
constexpr uint8_t StopPERTest = 16;
constexpr uint8_t GetDiagnostics = 17;
constexpr uint8_t ResetDiagnostics = 18;
constexpr uint8_t GetSWVersion = 20;
constexpr uint8_t CollectBothRadios = 21;
constexpr uint8_t TagFwBlock = 22;         // tag software 01.01.01 and above
constexpr uint8_t ResetBoard = 23;
constexpr uint8_t SetDiagInterval = 24;
constexpr uint8_t StartResetTagDiag = 25;
constexpr uint8_t StopResetTagDiag = 26;
constexpr uint8_t GetFreq = 27;
constexpr uint8_t TagFwBlock001 = 28;
constexpr uint8_t TagFwBlock002 = 29;
constexpr uint8_t StartBeacon = 30;
constexpr uint8_t StopBeacon = 31;
constexpr uint8_t SetFreqChangeDelay = 32;
constexpr uint8_t StartTagParams = 33;
constexpr uint8_t StopTagParams = 34;
constexpr uint8_t SetRegionAndTable = 35;
constexpr uint8_t SetWorkingChannel = 36;
constexpr uint8_t SetSteadyStateInterval = 37;
constexpr uint8_t LedWord = 38;
constexpr uint8_t GetAppChecksum = 39;
constexpr uint8_t SetSerialNumber = 40;
constexpr uint8_t GetServiceInfo = 41;
constexpr uint8_t GetOutputPower = 42;
constexpr uint8_t GetSteadyStateInterval = 43;
constexpr uint8_t StartCollectMEMS = 44;
constexpr uint8_t SetMEMSParams = 45;
constexpr uint8_t StopCollectMEMS = 46;
constexpr uint8_t StopSetMEMSParams = 47;

// Tag firmware blocks travel through the board to the tags; no reply comes.
constexpr bool IsTagFirmwareBlock(uint32_t opcodeKey) {
    return opcodeKey == TagFwBlock || opcodeKey == TagFwBlock001 || opcodeKey == TagFwBlock002;
}
}  // namespace SubGOp

// Boot ROM and boot loader opcodes; only used while an upgrade runs.
namespace LoaderOp {
constexpr uint8_t StopInBootRom = 15;
constexpr uint8_t ImageLine = 16;
constexpr uint8_t GetLoaders = 17;
constexpr uint8_t ActivateLoader = 18;
constexpr uint8_t DeactivateLoader = 19;
constexpr uint8_t GetCapabilities = 22;
constexpr uint8_t Reset = 23;
constexpr uint8_t ActivateApp = 24;
constexpr uint8_t DeactivateApp = 25;
constexpr uint8_t StopInBootLoader = 254;
}  // namespace LoaderOp
