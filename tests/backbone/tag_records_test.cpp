#include "backbone/tag_records.h"

#include <gtest/gtest.h>

#include "tags/tag_builder_records.h"

namespace {

RFTagDataPackage EntryOf(const TimedSubGMsg& record, int32_t workingChann = 4) {
    RFTagDataPackage entry;
    FillTagEntry(record, workingChann, &entry);
    return entry;
}

TEST(TagRecords, ActivityPositionFromTheFlags) {
    struct Case {
        uint8_t flags;
        RFTagActivityData::PositionType position;
    } cases[] = {{2, RFTagActivityData::LYING},      {0x81, RFTagActivityData::LYING},
                 {4, RFTagActivityData::STANDING},   {3, RFTagActivityData::STANDING},
                 {0, RFTagActivityData::UNKNOWN},    {5, RFTagActivityData::UNKNOWN},
                 {0x7F, RFTagActivityData::UNKNOWN}};
    for (const Case& c : cases) {
        TagMsgBuilder b;
        b.Activity(SubMsgType::Activity, 9, 0x0102, 300, 4, 55, c.flags);
        const RFTagDataPackage p = EntryOf(OnlyRecord(b, 1000, 123456));
        EXPECT_EQ(p.activity_data().position(), c.position) << int(c.flags);
        EXPECT_TRUE(p.activity_data().has_position());
        EXPECT_EQ(p.tag_id(), 0x01020304u);
        EXPECT_EQ(p.tag_msg_id(), 9u);
        EXPECT_EQ(p.visit_timestamp(), 1000123u);
        EXPECT_TRUE(p.has_extra_info());
        EXPECT_FALSE(p.has_tag_msg_rssi());
        EXPECT_EQ(p.activity_data().pedo_steps(), 0x0102u);
        EXPECT_EQ(p.activity_data().standing_time(), 300u);
        EXPECT_EQ(p.activity_data().laying_count(), 4u);
        EXPECT_EQ(p.activity_data().laying_time(), 55u);
    }
}

TEST(TagRecords, DiagnosticsInBothVersions) {
    TagMsgBuilder v1;
    v1.Sub(SubMsgType::Diagnostics, DiagV1Body());
    const RFTagDataPackage e1 = EntryOf(OnlyRecord(v1));
    const RFTagDiagnosticsInformation& d1 = e1.diag_info();
    EXPECT_FALSE(e1.has_activity_data());
    EXPECT_TRUE(d1.has_firmware_version_major());
    EXPECT_EQ(d1.firmware_version_major(), 0u);
    EXPECT_EQ(d1.firmware_version_bug_fix(), 5u);  // 0x85 without bit 7
    EXPECT_TRUE(d1.is_app_id_1());
    EXPECT_EQ(d1.battery_status(), 0x2710u);
    EXPECT_EQ(d1.temperature(), 25);
    EXPECT_TRUE(d1.mems_hw_failure());  // 0x5A bit 1
    EXPECT_FALSE(d1.hw_assembly_bug());

    TagMsgBuilder v2;
    v2.Sub(SubMsgType::Diagnostics, DiagV2Body());
    const RFTagDataPackage e2 = EntryOf(OnlyRecord(v2));
    const RFTagDiagnosticsInformation& d2 = e2.diag_info();
    EXPECT_EQ(d2.temperature(), -2) << "0xFE is signed";
    EXPECT_EQ(d2.firmware_version_major(), 10u);
    EXPECT_EQ(d2.firmware_version_minor(), 11u);
    EXPECT_EQ(d2.firmware_version_bug_fix(), 12u);
    EXPECT_TRUE(d2.is_app_id_1());
    EXPECT_TRUE(d2.firmware_crc_failure_occurred());  // 0xA5 bit 0
    EXPECT_TRUE(d2.hw_assembly_bug());                // byte 17 bit 0
}

TEST(TagRecords, ParametersTakeTheReaderChannel) {
    TagMsgBuilder b;
    b.Sub(SubMsgType::Parameters, ParamsBody());
    const RFTagDataPackage e = EntryOf(OnlyRecord(b), 4);
    EXPECT_FALSE(e.has_activity_data());
    const RFTagParametersInformation& p = e.params_info();
    EXPECT_EQ(p.steady_state_interval(), 300u);
    EXPECT_EQ(p.steady_state_session_retries(), 3u);
    EXPECT_EQ(p.channel_detection_interval(), 600u);
    EXPECT_EQ(p.no_comm_timeout(), 0x0E10u);
    EXPECT_EQ(p.site_id(), 255u);
    EXPECT_EQ(p.tx_output_power(), 15u);
    EXPECT_EQ(p.working_channel_index(), 5u);
    EXPECT_FALSE(p.has_rf_region());
}

}  // namespace
