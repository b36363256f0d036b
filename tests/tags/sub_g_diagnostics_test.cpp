#include "tags/sub_g_diagnostics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "params/working_params.h"
#include "subg/opcodes.h"
#include "subg/uart_faults.h"

namespace {

using Bytes = std::vector<uint8_t>;

void PutU32(Bytes* out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A payload of the layout: frequency words 0x0303038B..., radio 2's fifth
// self-test failed, every counter its own number, AvgRSSI raw as given.
Bytes Payload(int size, uint8_t avgRssiRaw) {
    Bytes p(static_cast<size_t>(size), 0);
    const size_t s = size == DIAG_BKPSRAM_SIZE ? 8 : 0;
    if (s) PutU32(&p, 0, 0x0000038B), PutU32(&p, 4, 0x012C0364);
    p[s + 16 + 4] = 7;
    for (uint32_t i = 0; i < 18; ++i) PutU32(&p, s + 32 + 4 * i, i + 1);  // up to the out-of-lock counters
    p[s + 104] = 27, p[s + 105] = 28, p[s + 106] = 29;
    const size_t d = s + 107;
    PutU32(&p, d, 600), PutU32(&p, d + 4, 123456), PutU32(&p, d + 8, 9), PutU32(&p, d + 12, 3);
    PutU32(&p, d + 16, 2), PutU32(&p, d + 20, 1);
    p[d + 24] = avgRssiRaw, p[d + 25] = 35, p[d + 26] = 1, p[d + 27] = 4, p[d + 28] = 5, p[d + 29] = 6;
    return p;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(SubGDiagnostics, BothLayoutsDecodeAndReport) {
    const struct {
        uint32_t version;
        int size;
        bool freqLines;
    } cases[] = {{10609, 146, true}, {10610, 138, false}, {0, 138, false}};
    const uint8_t sw[3] = {1, 6, 9};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        ASSERT_EQ(DiagnosticsSize(c.version), c.size);
        const Bytes p = Payload(c.size, 20);
        const SubGDiagnotics d = DecodeSubGDiagnotics(p.data(), c.size);
        EXPECT_EQ(d.NoTagRxTime, 600u);
        EXPECT_EQ(d.TotalTagPack, 123456u);
        EXPECT_EQ(d.CollisionCnt, 9u);
        EXPECT_EQ(d.AvgRSSI, -82);
        EXPECT_EQ(d.ForeignTagCnt, 6);
        const std::string report = FormatDiagnosticsReport(p.data(), c.size, sw, 0);
        EXPECT_EQ(Contains(report, "FreqR1[8b, 3, 0, 0, ]\nFreqR2[64, 3, 2c, 1, ]\n"), c.freqLines) << report;
        EXPECT_TRUE(Contains(report, "\n\nSubG Board App version: 01.0609\n")) << report;
        EXPECT_TRUE(Contains(report, "RadioDiag2[Succeed, Succeed, Succeed, Succeed, Failed, Succeed, "));
        EXPECT_TRUE(Contains(report, "Succeed, ]\nR1 Packet failure: PacketLenMismatch = 1, PacketTooSmall = 2, "
                                     "NoSubMessages = 3, SubMsgBadFormat = 4\n"));
        EXPECT_TRUE(Contains(report, "R2 MarcState counter: RX_FIFO_ERR = 13, TX_FIFO_ERR = 14, IFADCON_ERR = 15, "
                                     "IDLE = 16\nR1 out of lock counter = 17\nR2 out of lock counter = 18\n"
                                     "Radio1 CS_LOW_TO counter = 27\nRadio2 CS_LOW_TO counter = 28\n"
                                     "HardFault counter = 29\n"));
        EXPECT_TRUE(Contains(report, "SubGDiagnotics: AvgRSSI = -82, BadFormatCnt = 3, FIFO_overFlowCnt = 1,"
                                     "NoTagRxTime= 600, SubGBoardResetCnt = 4, TotalTagPack = 123456\n"));
    }
}

TEST(SubGDiagnostics, AvgRSSIIsTheRawByteLessItsOffsetAsASignedByte) {
    const struct {
        uint8_t raw;
        int dbm;
    } cases[] = {{20, -82}, {240, -118}, {102, 0}, {0, -102}};
    for (const auto& c : cases) {
        const Bytes p = Payload(138, c.raw);
        EXPECT_EQ(DecodeSubGDiagnotics(p.data(), 138).AvgRSSI, c.dbm) << int{c.raw};
    }
}

TEST(SubGDiagnostics, AReplyFillsTheContainerOnceAndAShortOneNothing) {
    SetSubGAppVersion(10609);
    const uint8_t sw[3] = {1, 6, 9};
    IncUARTCommFault();
    ZemloReaderDiagnosticsInformation diag;
    const Bytes shortOne = Payload(146, 20);
    EXPECT_EQ(ParseDiagnostics(MakeReply(SubGOp::GetDiagnostics, shortOne.data(), 145), sw), kDiscardQueue);
    EXPECT_FALSE(TakeDiagnostics(&diag));

    EXPECT_EQ(ParseDiagnostics(MakeReply(SubGOp::GetDiagnostics, shortOne.data(), 146), sw), kFrameTaken);
    const Bytes second = Payload(146, 240);
    EXPECT_EQ(ParseDiagnostics(MakeReply(SubGOp::GetDiagnostics, second.data(), 146), sw), kFrameTaken);
    ASSERT_TRUE(TakeDiagnostics(&diag));
    EXPECT_FALSE(TakeDiagnostics(&diag)) << "two replies, one update";
    EXPECT_EQ(static_cast<int32_t>(diag.rssi_noise()), -118) << "the second reply's";
    EXPECT_EQ(diag.total_packets_received(), 123456u);
    EXPECT_EQ(diag.internal_communication_failure_count(), 1u);
    EXPECT_TRUE(diag.has_extra_info());
    EXPECT_FALSE(diag.has_user_space_application_crash_counter());
}

}  // namespace
