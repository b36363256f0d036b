#include "tags/sub_g_diagnostics.h"

#include "platform/log.h"

#include <cstdio>
#include <exception>

#include "params/board_software.h"
#include "params/working_params.h"
#include "platform/byte_order.h"
#include "platform/format.h"
#include "platform/latest_report.h"
#include "subg/radio.h"
#include "subg/uart_faults.h"
#include "tags/csv_logs.h"
#include "tags/csv_rows.h"

namespace {

// Offsets behind the frequency words (8 bytes in the longer layout).
constexpr int kFreqWordsBytes = DIAG_BKPSRAM_SIZE - DIAG_BKPSRAM_SIZE_NO_FREQ;
constexpr int kSelfTestBytes = 16;
constexpr int kSelfTest1 = 0;
constexpr int kSelfTest2 = 16;
constexpr int kPacketFailures1 = 32;
constexpr int kPacketFailures2 = 48;
constexpr int kMarcState1 = 64;
constexpr int kMarcState2 = 80;
constexpr int kOutOfLock1 = 96;
constexpr int kOutOfLock2 = 100;
constexpr int kCsLowTimeout1 = 104;
constexpr int kCsLowTimeout2 = 105;
constexpr int kHardFaults = 106;
constexpr int kSummary = 107;

// Guarded by DiagMutex, like UARTCommErrCnt.
ZemloReaderDiagnosticsInformation DiagContainer;
bool DiagUpdated = false;

int Shift(int size) { return size == DIAG_BKPSRAM_SIZE ? kFreqWordsBytes : 0; }

std::string FreqWordLine(const char* label, const uint8_t* word) {
    std::string line = label;
    for (int i = 0; i < 4; ++i) line += Format("%x, ", word[i]);
    return line + "]\n";
}

// Every entry, the last one included, is followed by ", ".
std::string SelfTestLine(const char* label, const uint8_t* results) {
    std::string line = label;
    for (int i = 0; i < kSelfTestBytes; ++i) line += results[i] == 0 ? "Succeed, " : "Failed, ";
    return line + "]\n";
}

std::string FourCounters(const char* format, const uint8_t* p) {
    return Format(format, static_cast<int>(GetLE32(p)), static_cast<int>(GetLE32(p + 4)),
                  static_cast<int>(GetLE32(p + 8)), static_cast<int>(GetLE32(p + 12)));
}

}  // namespace

int DiagnosticsSize(uint32_t subgAppVersion) {
    return IsOldBoardSoftware(subgAppVersion) ? DIAG_BKPSRAM_SIZE : DIAG_BKPSRAM_SIZE_NO_FREQ;
}

SubGDiagnotics DecodeSubGDiagnotics(const uint8_t* payload, int size) {
    const uint8_t* s = payload + Shift(size) + kSummary;
    SubGDiagnotics d{};
    d.NoTagRxTime = GetLE32(s);
    d.TotalTagPack = GetLE32(s + 4);
    d.CollisionCnt = GetLE32(s + 8);
    d.BadFormatCnt = GetLE32(s + 12);
    d.IgnoredOrNackCnt = GetLE32(s + 16);
    d.FIFO_overFlowCnt = GetLE32(s + 20);
    d.AvgRSSI = static_cast<int8_t>(s[24] - kRssiOffsetDbm);
    d.AvgTemperature = s[25];
    d.TempExceedCnt = s[26];
    d.SubGBoardResetCnt = s[27];
    d.SubGErrorCnt = s[28];
    d.ForeignTagCnt = s[29];
    return d;
}

std::string FormatDiagnosticsReport(const uint8_t* payload, int size, const uint8_t swVersion[3], time_t now) {
    std::string report = DateText(now) + "\n\n";
    report += Format("SubG Board App version: %02d.%02d%02d\n", swVersion[0], swVersion[1], swVersion[2]);
    if (size == DIAG_BKPSRAM_SIZE) {
        report += FreqWordLine("FreqR1[", payload);
        report += FreqWordLine("FreqR2[", payload + 4);
    }
    const uint8_t* p = payload + Shift(size);
    report += SelfTestLine("RadioDiag1[", p + kSelfTest1);
    report += SelfTestLine("RadioDiag2[", p + kSelfTest2);
    report += FourCounters("R1 Packet failure: PacketLenMismatch = %d, PacketTooSmall = %d, NoSubMessages = %d, "
                           "SubMsgBadFormat = %d\n", p + kPacketFailures1);
    report += FourCounters("R2 Packet failure: PacketLenMismatch = %d, PacketTooSmall = %d, NoSubMessages = %d, "
                           "SubMsgBadFormat = %d\n", p + kPacketFailures2);
    report += FourCounters("R1 MarcState counter: RX_FIFO_ERR = %d, TX_FIFO_ERR = %d, IFADCON_ERR = %d, IDLE = %d\n",
                           p + kMarcState1);
    report += FourCounters("R2 MarcState counter: RX_FIFO_ERR = %d, TX_FIFO_ERR = %d, IFADCON_ERR = %d, IDLE = %d\n",
                           p + kMarcState2);
    report += Format("R1 out of lock counter = %d\n", static_cast<int>(GetLE32(p + kOutOfLock1)));
    report += Format("R2 out of lock counter = %d\n", static_cast<int>(GetLE32(p + kOutOfLock2)));
    report += Format("Radio1 CS_LOW_TO counter = %d\nRadio2 CS_LOW_TO counter = %d\n", p[kCsLowTimeout1],
                     p[kCsLowTimeout2]);
    report += Format("HardFault counter = %d\n", p[kHardFaults]);
    const SubGDiagnotics d = DecodeSubGDiagnotics(payload, size);
    report += Format("SubGDiagnotics: AvgRSSI = %d, BadFormatCnt = %d, FIFO_overFlowCnt = %d,NoTagRxTime= %d, "
                     "SubGBoardResetCnt = %d, TotalTagPack = %d\n",
                     d.AvgRSSI, static_cast<int>(d.BadFormatCnt), static_cast<int>(d.FIFO_overFlowCnt),
                     static_cast<int>(d.NoTagRxTime), d.SubGBoardResetCnt, static_cast<int>(d.TotalTagPack));
    return report;
}

ReplyResult ParseDiagnostics(const T7734FrameReply& reply, const uint8_t swVersion[3]) {
    const int size = DiagnosticsSize(CurrentSubGAppVersion());
    if (ReplyDataLen(reply) < size) {
        LogLine(LOG_DEBUG, size == DIAG_BKPSRAM_SIZE ? "ParseDiagnostics: MsgLen < DIAG_BKPSRAM_SIZE"
                                                    : "ParseDiagnostics: MsgLen < DIAG_BKPSRAM_SIZE_NO_FREQ");
        return kDiscardQueue;
    }
    // Written once the parser has let go of the transmit slot.
    QueueCsvRow(CsvLog::Diag, FormatDiagnosticsReport(reply.data, size, swVersion, time(nullptr)));
    UpdateDiagnostics(DecodeSubGDiagnotics(reply.data, size));
    return kFrameTaken;
}

void UpdateDiagnostics(SubGDiagnotics d) {
    // Taken before DiagMutex, which guards the count too and is not
    // recursive; a fault counted in between shows in the next report.
    const int uartFaults = UARTCommFaults();
    std::lock_guard<std::mutex> lock(DiagMutex);
    try {
        ZemloReaderDiagnosticsInformation& c = DiagContainer;
        c.set_no_tag_transmission_time(d.NoTagRxTime);
        c.set_total_packets_received(d.TotalTagPack);
        c.set_collision_count(d.CollisionCnt);
        c.set_invalid_tag_message_format(d.BadFormatCnt);
        c.set_ignored_or_nack_per_tag(d.IgnoredOrNackCnt);
        c.set_subg_radio_rx_tx_buffer_overflow(d.FIFO_overFlowCnt);
        // A negative level travels as its 32-bit two's complement.
        c.set_rssi_noise(static_cast<uint32_t>(static_cast<int32_t>(d.AvgRSSI)));
        c.set_average_temperature(d.AvgTemperature);
        c.set_temperature_exceed_counter(d.TempExceedCnt);
        c.set_subg_board_application_reset_counter(d.SubGBoardResetCnt);
        c.set_subg_errors(d.SubGErrorCnt);
        c.set_foreign_tag_counter(d.ForeignTagCnt);
        c.set_internal_communication_failure_count(static_cast<uint32_t>(uartFaults));
        if (!c.has_extra_info()) c.set_extra_info("");
        DiagUpdated = true;
    } catch (const std::exception& e) {
        LogLine(LOG_ERR, "UpdateDiagnostics: caught an exception (%s)", e.what());
    }
}

bool TakeDiagnostics(ZemloReaderDiagnosticsInformation* out) {
    return TakeLatestReport(DiagMutex, DiagUpdated, DiagContainer, out, "TakeDiagnostics");
}
