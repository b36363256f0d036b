#include "tags/csv_rows.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tags/tag_builder_records.h"

namespace {

constexpr time_t kWhen = 1796617261;  // Mon Dec  7 04:21:01 2026 UTC
constexpr timeval kNow = {kWhen, 654321};

class CsvRows : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
    }

    // The record of a message with one report, dated 900 s back.
    static TimedSubGMsg ActivityRecord(uint8_t type, uint8_t flags, uint8_t radio = 0, uint8_t rssiByte = 0x10) {
        TagMsgBuilder b;
        b.radio = radio;
        b.rssiByte = rssiByte;
        b.Activity(type, 0x2A, 0x1234, 0x5678, 3, 0x40, flags);
        return OnlyRecord(b, kWhen - 900, 654321);
    }

    template <class Report>
    static Report ReportOf(uint8_t type, const std::vector<uint8_t>& body) {
        TagMsgBuilder b;
        b.Sub(type, body);
        return std::get<Report>(OnlyRecord(b).report);
    }
};

TEST_F(CsvRows, FileNamesCarryTheDirectoryAndTheMinuteOfOpening) {
    EXPECT_EQ(LogStamp(kWhen), "_261207_0421");
    EXPECT_EQ(CsvLogPath(CsvLog::TagsActivity, "/home", kWhen), "/home/TagsActivity_261207_0421.csv");
    EXPECT_EQ(CsvLogPath(CsvLog::Diag, "/home", kWhen), "/home/Diag_261207_0421.csv");
    EXPECT_EQ(CsvLogPath(CsvLog::TagDiag, "/home", kWhen), "/home/TagDiag_261207_0421.csv");
    EXPECT_EQ(CsvLogPath(CsvLog::TagParam, "/home", kWhen), "/home/TagParam_261207_0421.csv");
    EXPECT_EQ(CsvLogPath(CsvLog::MEMSCalc, "/home", kWhen), "/home/MEMSCalcParam__261207_0421.csv");
    EXPECT_EQ(CsvLogPath(CsvLog::RawData, "/home", kWhen), "/home/RawData_261207_0421.csv");
    EXPECT_EQ(CsvLogPath(CsvLog::RSSI, "/home", kWhen), "/home/RSSI_261207_0421.csv");
    EXPECT_EQ(CsvLogPath(CsvLog::PERTest, "/home", kWhen), "/home/PERTest_261207_0421.csv");
}

TEST_F(CsvRows, WithoutHomeTheNamesLieUnderTmp) {
    EXPECT_EQ(CsvLogPath(CsvLog::TagsActivity, "/tmp", kWhen), "/tmp/TagsActivity_261207_0421.csv");
    EXPECT_EQ(CsvLogPath(CsvLog::MEMSCalc, "/tmp", kWhen), "/tmp/MEMSCalcParam__261207_0421.csv");
}

TEST_F(CsvRows, HeaderLines) {
    EXPECT_STREQ(CsvLogHeader(CsvLog::TagsActivity),
                 "RADIO, Sec,MiliSec,\tTagID,\tMsgID,\tSteps,\tStandingTime,\tLying Num,\tLying Time,\tRSSI,"
                 "\tPosition,\tJustStoodUp\n");
    EXPECT_STREQ(CsvLogHeader(CsvLog::TagDiag),
                 "TagID, Date, DiagStructVersionId, NumOfFirmwareLoads, NumOfRecoveryResets, LastRecoveryResetCauseId,"
                 " ParameterOutOfRangeRX, ParameterOutOfRangeInRAM, MsgSuccessRate, LF_NoiseLevel, BatteryStatus, "
                 "RSSI, Temperature, FW vers, APP ID, BitMask, CRC\n");
    EXPECT_STREQ(CsvLogHeader(CsvLog::TagParam),
                 "TagID, Date, SubgSteadyStateInterval, SubgSteadyStateNumOfRetries, SubgChannelDetectInterval, "
                 "SubgNoCommsTimeOut, BeaconSearchDuration, MemsDeltaY, MemsRange, MemsLevelLow, MemsLevelHigh\n");
    EXPECT_STREQ(CsvLogHeader(CsvLog::MEMSCalc),
                 "TagID, Date, seconds, milliseconds, minimum acceleration exceptions, Step recognition time slot, "
                 "minimum step to change from standing to walking,Standing to walking time slot, walk to stand "
                 "change delay \n");
    EXPECT_STREQ(CsvLogHeader(CsvLog::RawData), "TagID, Date, seconds, miliseconds, Data\n");
    EXPECT_EQ(CsvLogHeader(CsvLog::Diag), nullptr);
    EXPECT_EQ(CsvLogHeader(CsvLog::RSSI), nullptr);
    EXPECT_EQ(CsvLogHeader(CsvLog::PERTest), nullptr);
}

TEST_F(CsvRows, ActivityRows) {
    EXPECT_EQ(FormatActivityRow(ActivityRecord(1, 0x83)),
              "RADIO_1, 1796616361, 654, 16909060, 42, 4660, 22136, 3, 64, -86, Standing, True\n");
    EXPECT_EQ(FormatActivityRow(ActivityRecord(1, 0x02, 7, 0x0C)),
              "RADIO_2, 1796616361, 654, 16909060, 42, 4660, 22136, 3, 64, -90, Lying, False\n");
    EXPECT_EQ(FormatActivityRow(ActivityRecord(1, 0x85)),
              "RADIO_1, 1796616361, 654, 16909060, 42, 4660, 22136, 3, 64, -86, Unknown, True\n");
    EXPECT_EQ(FormatJustStoodUpRow(ActivityRecord(15, 30)),
              "RADIO_1, 1796616361, 654, 16909060, 42, 4660, 22136, 3, 64, -86, 30, True\n");
}

TEST_F(CsvRows, TagDiagnosticsRowsStayOnOneLine) {
    const auto v2 = ReportOf<TAG_DIAGNOSTICS_STD_001>(SubMsgType::Diagnostics, DiagV2Body());
    EXPECT_EQ(FormatTagDiagRow(0xFFFFFFFE, kWhen, v2),
              "-2, Mon Dec  7 04:21:01 2026, 2, 1, 2, 1f, 4, 5, 90, 7, 4660, -65, -2, 10.11.12, 1, a5, c3\n");
    const auto v1 = ReportOf<TAG_DIAGNOSTICS_STD>(SubMsgType::Diagnostics, DiagV1Body());
    EXPECT_EQ(FormatTagDiagRow(5, kWhen, v1),
              "5, Mon Dec  7 04:21:01 2026, 1, 3, 4, 2a, 5, 6, 80, 9, 10000, -60, 25, 5, 0, 5a, 77\n");
}

TEST_F(CsvRows, TagParametersRow) {
    const auto p = ReportOf<PARAMS_REPORT_STD>(SubMsgType::Parameters, ParamsBody());
    EXPECT_EQ(FormatTagParamRow(16909060, kWhen, p),
              "16909060, Mon Dec  7 04:21:01 2026, 300, 3, 600, 3600, 60, 5, 6, 7, 8\n");
}

TEST_F(CsvRows, MEMSCalculationRowFollowsTheHeaderOrder) {
    const uint8_t body[] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(FormatMEMSCalcRow(16909060, kNow, body), "16909060, 1796617261, 654321, 1, 770, 5, 6, 4\n");
}

TEST_F(CsvRows, RawDataRowListsEachByteInHex) {
    const uint8_t data[] = {0x01, 0xAB, 0x10};
    EXPECT_EQ(FormatRawDataRow(16909060, kNow, data, 3), "16909060, 1796617261, 654321 ,1 ,ab ,10 \n");
    EXPECT_EQ(FormatRawDataRow(1, kNow, data, 0), "1, 1796617261, 654321 \n");
}

TEST_F(CsvRows, PERAndRSSIRows) {
    EXPECT_EQ(FormatPERRow(kNow, 16909060, 7, 0x41), "1796617261, 654, 16909060, 7, -65\n");
    EXPECT_EQ(FormatRSSIRow(kWhen, "RADIO_1", 868.3, -75), "Mon Dec  7 04:21:01 2026, RADIO_1, 868.300, -75\n");
}

}  // namespace
