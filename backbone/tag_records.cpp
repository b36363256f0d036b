#include "backbone/tag_records.h"

#include <variant>

namespace {

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

void convertTagHeaderToTagPack(const TimedSubGMsg& record, RFTagDataPackage* entry) {
    entry->set_tag_id(record.tagId);
    entry->set_tag_msg_id(record.msgId);
    entry->set_visit_timestamp(static_cast<uint64_t>(record.seconds) * 1000 + record.micros / 1000);
    entry->set_extra_info(std::string());
}

void convertTagVisitData(const STANDARD_REPORT_STD& report, uint8_t activityFlags, RFTagActivityData* out) {
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

// The part of the entry that the report's kind fills.
struct ReportConversion {
    const TimedSubGMsg& record;
    int32_t workingChann;
    RFTagDataPackage* entry;
    void operator()(const STANDARD_REPORT_STD& report) const {
        convertTagVisitData(report, record.activityFlags, entry->mutable_activity_data());
    }
    void operator()(const PARAMS_REPORT_STD& params) const {
        convertTagParamData(params, workingChann, entry->mutable_params_info());
    }
    template <class TagDiagnostics>
    void operator()(const TagDiagnostics& diag) const {
        convertTagDiagData(diag, entry->mutable_diag_info());
    }
};

}  // namespace

void FillTagEntry(const TimedSubGMsg& record, int32_t workingChann, RFTagDataPackage* entry) {
    convertTagHeaderToTagPack(record, entry);
    std::visit(ReportConversion{record, workingChann, entry}, record.report);
}
