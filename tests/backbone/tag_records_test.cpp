#include "backbone/tag_records.h"

#include <gtest/gtest.h>

#include <vector>

#include "tags/tag_builder_records.h"

namespace {

struct Entry {
    TagEntryKind kind = TagEntryKind::None;
    RFTagDataPackage pack;
};

std::vector<Entry> EntriesOf(const TimedSubGMsg& record, int32_t workingChann = 4) {
    std::vector<Entry> entries;
    WalkSubMessages(record, [&](TagEntryKind kind, int offset) {
        Entry e;
        e.kind = kind;
        if (FillTagEntry(record, kind, offset, workingChann, &e.pack)) entries.push_back(e);
    });
    return entries;
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
        const auto entries = EntriesOf(OnlyRecord(b, 1000, 123456));
        ASSERT_EQ(entries.size(), 1u);
        const RFTagDataPackage& p = entries[0].pack;
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

TEST(TagRecords, DiagnosticsInBothVersionsAndUnknownOnes) {
    TagMsgBuilder v1;
    v1.Sub(SubMsgType::Diagnostics, DiagV1Body());
    const auto e1 = EntriesOf(OnlyRecord(v1));
    ASSERT_EQ(e1.size(), 1u);
    const RFTagDiagnosticsInformation& d1 = e1[0].pack.diag_info();
    EXPECT_FALSE(e1[0].pack.has_activity_data());
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
    const auto e2 = EntriesOf(OnlyRecord(v2));
    ASSERT_EQ(e2.size(), 1u);
    const RFTagDiagnosticsInformation& d2 = e2[0].pack.diag_info();
    EXPECT_EQ(d2.temperature(), -2) << "0xFE is signed";
    EXPECT_EQ(d2.firmware_version_major(), 10u);
    EXPECT_EQ(d2.firmware_version_minor(), 11u);
    EXPECT_EQ(d2.firmware_version_bug_fix(), 12u);
    EXPECT_TRUE(d2.is_app_id_1());
    EXPECT_TRUE(d2.firmware_crc_failure_occurred());  // 0xA5 bit 0
    EXPECT_TRUE(d2.hw_assembly_bug());                // byte 17 bit 0

    TimedSubGMsg v3 = OnlyRecord(v2);
    v3.area[kAreaDataOffset] = 3;  // a structure version this reader does not know
    const auto e3 = EntriesOf(v3);
    ASSERT_EQ(e3.size(), 1u);
    EXPECT_TRUE(e3[0].pack.has_diag_info());
    EXPECT_EQ(e3[0].pack.diag_info().ByteSizeLong(), 0u) << "present, with no field set";
}

TEST(TagRecords, ParametersTakeTheReaderChannel) {
    TagMsgBuilder b;
    b.Sub(SubMsgType::Parameters, ParamsBody());
    const auto entries = EntriesOf(OnlyRecord(b), 4);
    ASSERT_EQ(entries.size(), 1u);
    const RFTagParametersInformation& p = entries[0].pack.params_info();
    EXPECT_EQ(p.steady_state_interval(), 300u);
    EXPECT_EQ(p.steady_state_session_retries(), 3u);
    EXPECT_EQ(p.channel_detection_interval(), 600u);
    EXPECT_EQ(p.no_comm_timeout(), 0x0E10u);
    EXPECT_EQ(p.site_id(), 255u);
    EXPECT_EQ(p.tx_output_power(), 15u);
    EXPECT_EQ(p.working_channel_index(), 5u);
    EXPECT_FALSE(p.has_rf_region());
}

TEST(TagRecords, TheWalkStaysInsideTheArea) {
    TagMsgBuilder b;
    b.Activity(SubMsgType::Activity, 1);
    TimedSubGMsg record = OnlyRecord(b);
    record.header[0] = 0;
    EXPECT_TRUE(EntriesOf(record).empty()) << "packet length 0 carries nothing";

    record = OnlyRecord(b);
    record.area[1] = 99;  // an unknown type: nothing added, the walk goes on
    record.header[kSubGMsgHeaderSize - 1] = 255;
    record.area[0] = 1;
    int visits = 0;
    WalkSubMessages(record, [&](TagEntryKind, int offset) {
        ++visits;
        EXPECT_LE(offset, kSubMsgAreaSize);
    });
    EXPECT_LE(visits, kSubMsgAreaSize);
    EXPECT_TRUE(EntriesOf(record).empty());
}

}  // namespace
