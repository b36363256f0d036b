#include "backbone/tag_records.h"

namespace {

// How far the walk moves past each kind of sub-message.
constexpr int kActivityStride = 11;
constexpr int kDiagnosticsStride = 22;
constexpr int kParametersStride = 18;

constexpr uint32_t kPositionMask = 0x7F;
constexpr uint32_t kTagSiteId = 255;
constexpr uint32_t kTagTxOutputPower = 15;

RFTagActivityData::PositionType PositionOf(uint32_t activityFlags) {
    switch (activityFlags & kPositionMask) {
        case 1:
        case 2: return RFTagActivityData::LYING;
        case 3:
        case 4: return RFTagActivityData::STANDING;
        default: return RFTagActivityData::UNKNOWN;
    }
}

bool Bit(uint8_t byte, int bit) { return ((byte >> bit) & 1) != 0; }

void ConvertDiagCommon(const TagDiagCommon& c, RFTagDiagnosticsInformation* out) {
    out->set_firmware_loads_counter(c.NumOfFirmwareLoads);
    out->set_recovery_reset_counter(c.NumOfRecoveryResets);
    out->set_last_reset_cause(c.LastRecoveryResetCauseId);
    out->set_parameter_out_of_range_rx(c.ParameterOutOfRangeRX);
    out->set_parameter_out_of_range_in_ram(c.ParameterOutOfRangeInRAM);
    out->set_msg_success_rate(c.MsgSuccessRate);
    out->set_lf_noise_level(c.LF_NoiseLevel);
    out->set_battery_status(c.BatteryStatus);
    out->set_rssi_avg_in_received_packets(c.RSSI);
    out->set_temperature(c.Temperature);
}

// The failure bits share one layout in both versions.
void ConvertDiagBits(uint8_t bitMask, uint8_t extraFlags, RFTagDiagnosticsInformation* out) {
    out->set_firmware_crc_failure_occurred(Bit(bitMask, 0));
    out->set_mems_hw_failure(Bit(bitMask, 1));
    out->set_params_crc_failure(Bit(bitMask, 2));
    out->set_flash_write_failure(Bit(bitMask, 3));
    out->set_state_out_of_range(Bit(bitMask, 4));
    out->set_invalid_param(Bit(bitMask, 5));
    out->set_invalid_radio(Bit(bitMask, 6));
    out->set_subg_reset_fail(Bit(bitMask, 7));
    out->set_hw_assembly_bug(Bit(extraFlags, 0));
}

int DataSizeOf(TagEntryKind kind, uint8_t version) {
    switch (kind) {
        case TagEntryKind::Activity: return kStandardReportSize;
        case TagEntryKind::Parameters: return kParamsReportSize;
        case TagEntryKind::Diagnostics: return version == kTagDiag001Version ? kTagDiag001Size : kTagDiagSize;
        case TagEntryKind::None: break;
    }
    return 0;
}

}  // namespace

TagEntryKind EntryKindOf(uint32_t subMsgType) {
    switch (subMsgType) {
        case SubMsgType::Activity:
        case SubMsgType::JustStoodUp: return TagEntryKind::Activity;
        case SubMsgType::Diagnostics: return TagEntryKind::Diagnostics;
        case SubMsgType::Parameters: return TagEntryKind::Parameters;
        default: return TagEntryKind::None;
    }
}

void WalkSubMessages(const TimedSubGMsg& record, const std::function<void(TagEntryKind, int)>& visit) {
    if (record.header[0] == 0) return;  // the record carries nothing
    const int count = record.header[kSubGMsgHeaderSize - 1];
    int s = 0;
    for (int i = 0; i < count && s + kAreaDataOffset <= kSubMsgAreaSize; ++i) {
        const uint8_t* at = record.area + s;
        const uint32_t type = at[1] | at[2] << 8 | at[3] << 16 | static_cast<uint32_t>(at[4]) << 24;
        const TagEntryKind kind = EntryKindOf(type);
        visit(kind, s + kAreaDataOffset);
        switch (kind) {
            case TagEntryKind::Activity: s += kActivityStride; break;
            case TagEntryKind::Diagnostics: s += kDiagnosticsStride; break;
            case TagEntryKind::Parameters: s += kParametersStride; break;
            case TagEntryKind::None:
                if (at[0] == 0) return;  // a zero length would walk on the spot
                s += at[0];
                break;
        }
    }
}

void convertTagHeaderToTagPack(const TimedSubGMsg& record, RFTagDataPackage* entry) {
    entry->set_tag_id(RecordTagId(record));
    entry->set_tag_msg_id(RecordMsgId(record));
    entry->set_visit_timestamp(static_cast<uint64_t>(record.seconds) * 1000 + record.micros / 1000);
    entry->set_extra_info(std::string());
}

void convertTagVisitData(const STANDARD_REPORT_STD& report, uint32_t activityFlags, RFTagActivityData* out) {
    out->set_pedo_steps(report.Steps);
    out->set_standing_time(report.StandingTime);
    out->set_laying_count(report.LyingNum);
    out->set_laying_time(report.LyingTime);
    out->set_position(PositionOf(activityFlags));
}

void convertTagDiagData(const TAG_DIAGNOSTICS_STD& diag, RFTagDiagnosticsInformation* out) {
    ConvertDiagCommon(diag.common, out);
    out->set_firmware_version_major(0);
    out->set_firmware_version_minor(0);
    out->set_firmware_version_bug_fix(diag.FirmwareByte & 0x7F);
    out->set_is_app_id_1(Bit(diag.FirmwareByte, 7));
    ConvertDiagBits(diag.BitMask, diag.ExtraFlags, out);
}

void convertTagDiagData(const TAG_DIAGNOSTICS_STD_001& diag, RFTagDiagnosticsInformation* out) {
    ConvertDiagCommon(diag.common, out);
    out->set_firmware_version_major(diag.FwMajor);
    out->set_firmware_version_minor(diag.FwMinor);
    out->set_firmware_version_bug_fix(diag.FwBugFix);
    out->set_is_app_id_1(diag.AppId != 0);
    ConvertDiagBits(diag.BitMask, diag.ExtraFlags, out);
}

void convertTagParamData(const PARAMS_REPORT_STD& params, int32_t workingChann, RFTagParametersInformation* out) {
    out->set_steady_state_interval(params.SubgSteadyStateInterval);
    out->set_steady_state_session_retries(params.SubgSteadyStateNumOfRetries);
    out->set_channel_detection_interval(params.SubgChannelDetectInterval);
    out->set_no_comm_timeout(params.SubgNoCommsTimeOut);
    out->set_site_id(kTagSiteId);
    out->set_tx_output_power(kTagTxOutputPower);
    out->set_working_channel_index(static_cast<uint32_t>(workingChann + 1));
}

bool FillTagEntry(const TimedSubGMsg& record, TagEntryKind kind, int offset, int32_t workingChann,
                  RFTagDataPackage* entry) {
    const uint8_t* d = record.area + offset;
    if (offset >= kSubMsgAreaSize || offset + DataSizeOf(kind, d[0]) > kSubMsgAreaSize) return false;
    convertTagHeaderToTagPack(record, entry);
    switch (kind) {
        case TagEntryKind::Activity:
            convertTagVisitData(DecodeStandardReport(d), record.activityFlags, entry->mutable_activity_data());
            break;
        case TagEntryKind::Diagnostics:
            entry->clear_activity_data();
            if (d[0] == kTagDiagVersion) {
                convertTagDiagData(DecodeTagDiag(d), entry->mutable_diag_info());
            } else if (d[0] == kTagDiag001Version) {
                convertTagDiagData(DecodeTagDiag001(d), entry->mutable_diag_info());
            } else {
                entry->mutable_diag_info();  // present, with no field set
            }
            break;
        case TagEntryKind::Parameters:
            entry->clear_activity_data();
            convertTagParamData(DecodeParamsReport(d), workingChann, entry->mutable_params_info());
            break;
        case TagEntryKind::None: return false;
    }
    return true;
}
