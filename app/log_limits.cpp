#include "app/log_limits.h"

#include <iterator>

// Each text exactly as its call site writes it. Only lines whose number an
// RTC, a board or a broadcast decides belong here: of each, three lines a
// minute pass as they are and one more says how many were held back
// (platform/log.h). Lines the daemon's own pace bounds do not, nor do the
// files' lines: each file is read once a start or once it changes.
const char* const kRateLimitedLogTexts[] = {
    // An RTC's messages, one line each.
    "RTCListener: Received RTCPAIRACK",
    "RTCListener: Received RTCPERSISTACK",
    "RTCListener: Received RTCSETREADERPARAM",
    "RTCListener: Received RTCSETTAGPARAM",
    "RTCListener: Received RTCCOMMAND_FIELDNUM",
    "RTCListener: Received RtcClockSync",
    "HandleRtcCommand: sent command %d",
    "OpenParamFile: opened file %s",
    // What an RTC's messages may hold that is refused or cannot be done.
    "RTCListener: pairing acknowledgement without a time, clock left as it is",
    "RTCListener: clock sync without a time, clock left as it is",
    "RTCListener: (%s) the message does not parse, ignored",
    "RTCListener: %scaught an exception (%s)",
    "RTCListener: (Tag params) caught an exception (%s)",
    "RTCListener: RTC time %llu ms is beyond this system's clock, clock left as it is",
    "RTCListener: RTC time %llu ms predates this program, clock and queued times left as they are",
    "RTCListener:  Failed on settimeofday (%s)",
    "%s: keep-alive interval of %u s is outside %u to %u s, %u s taken",
    "%s: working channel %u outside the table of %zu channels, channel and frequency kept",
    "BackBoneIface::ParseReaderParams: table frequency %.3f is not one a radio may have, table kept",
    "BackBoneIface::ParseTagParams: steady-state interval of %u minutes is too long, kept",
    "AddAckWaiting: %zu acknowledgements waiting, dropping the oldest",
    "TakeAckWaiting: %zu acknowledgements were dropped unsent",
    // The board's traffic through a long outage: one a package at the bound.
    "AddMsgToQ: the queue holds its bound of %d tag records; package %llu with %d dropped",
    // An RTC's stream and connections.
    "RTCListener: invalid envelope header, dropping the connection",
    "RTCListener: a message longer than %u bytes, dropping the connection",
    "BackBoneIface::OpenRTCClientSocket: Connected to %s port %d",
    "BackBoneIface::ReadRTCData: the RTC closed the connection",
    "BackBoneIface::SetPaired: the link was lost before pairing",
    "BackBoneIface::SaveRTCIPaddressToFile: opened file %s",
    "Entered BackBoneIface::HandleSigPipe\n",
    // Discovery datagrams.
    "BackBoneIface::GetServerAddr: caught anexception (%s)",
    "BackBoneIface::GetServerAddr: ignored a datagram that is no discovery message",
    "BackBoneIface::GetServerAddr: ignored a discovery message that does not parse",
    "BackBoneIface::GetServerAddr: ignored a discovery message without a TCP port",
    "BackBoneIface::ListenForPairing: Failed to parse RTC IP address\n",
    "BackBoneIface::ListenForPairing: RTC list full, ignored %s port %u",
    "BackBoneIface::ListenForPairing: RTC IP address: %s",
    // The board's frames.
    "SerialListener: ReadBytesLen = %d, flushing serial port\n",
    "PutMsgInQ: inbound queue full (%d bytes unconsumed), %d bytes dropped",
    "SerialParser: Message length too short %d",
    "SerialParser: Calculated CS = %x, Received CS = %x Message bad format!",
    "SerialParser: no handler for opcode %d, frame skipped",
    "ParseTagMsg: MsgLen < HEADER_IDENTIFIER_SIZE",
    "ParseTagMsg: ParsedBytes == -1",
    "ParseTagMsg_001: MsgLen < sizeof(SUB_G_MSG_HEADER_STD_001) (MsgLen= %d)",
    "ParseTagMsg_001: Failed to add just stood up data for tag %d",
    "ParseTagMsg_001: Failed to add data for tag %d",
    "ParseDiagnostics: MsgLen < DIAG_BKPSRAM_SIZE",
    "ParseDiagnostics: MsgLen < DIAG_BKPSRAM_SIZE_NO_FREQ",
    "UpdateChannScan: readingCount = %d, or RSSIArray == NULL",
    "UpdateChannScan: channel %u outside the table of %zu channels",
    "HandleSetFreq: reading of %d bytes, %d needed",
    "SerialParser: unmatching frequency received %.3f expected %.3f",
    "ParseSubGServiceInfo: Parsing GVT data",
    "UpdateOldSubGGVT: SubGBoard Has no boot loader (SubGVersion = %u",
    "\nSubGBoardApp checksum = %u %x\n",
};

const size_t kRateLimitedLogTextCount = std::size(kRateLimitedLogTexts);
