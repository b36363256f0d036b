// Reader and tag parameters from the RTC, applied to the working parameters
// and the SubG board. A value the reader cannot use is refused with an
// error line and the current one stays; the rest of the message applies.
#include "platform/log.h"

#include <climits>
#include <vector>

#include "RFTagParametersInformation.pb.h"
#include "RtcSetReaderParameters.pb.h"
#include "backbone/backbone_iface.h"
#include "params/working_params.h"
#include "subgconfig/freq_coding.h"
#include "subgconfig/frequencies.h"

namespace {

// The delay the board waits before it follows a frequency change, minutes.
constexpr int32_t kRtcFreqChDelay = 10;

// A one-based channel from the RTC that the table has.
bool ValidChannel(const char* caller, uint32_t oneBased, size_t tableLen) {
    if (oneBased >= 1 && oneBased <= tableLen) return true;
    LogLine(LOG_ERR, "%s: working channel %u outside the table of %zu channels, channel and frequency kept", caller,
           oneBased, tableLen);
    return false;
}

// The RTC's own table, else the region's built-in one with its own count;
// never a frequency below the lowest channel, which a radio cannot have.
void ApplyChannelTable(const ZemloReaderParametersInformation& info) {
    if (info.radio_frequency_table_size() > 0) {
        std::vector<float> table(info.radio_frequency_table().begin(), info.radio_frequency_table().end());
        for (float mhz : table) {
            if (!IsUsableRadioFreq(mhz)) {
                LogLine(LOG_ERR, "BackBoneIface::ParseReaderParams: table frequency %.3f is not one a radio may have, "
                       "table kept", mhz);
                return;
            }
        }
        ChangeFreqTable(table.data(), static_cast<int>(table.size()));
        return;
    }
    if (!info.has_rf_region()) return;
    const int region = info.rf_region();
    ChangeFreqTable(BackwardCompatChannArray[region], BuiltInChannelCount(region));
}

}  // namespace

void BackBoneIface::ParseReaderParams(const RtcSetReaderParameters& msg) {
    const ZemloReaderParametersInformation& info = msg.reader_params_info();
    // The versions and the steady-state interval stay as they are.
    WorkingParamsSt record = SnapshotWorkingParams();
    if (info.has_diagnostics_sending_interval()) record.DiagInterval = static_cast<int32_t>(info.diagnostics_sending_interval());
    if (info.has_bit_running_interval()) record.BITInterval = static_cast<int32_t>(info.bit_running_interval());
    if (info.has_channel_scanning_interval()) {
        record.ChannScanInterval = static_cast<int32_t>(info.channel_scanning_interval());
    }
    if (info.has_rf_region()) record.RFRegion = info.rf_region();
    if (info.has_keep_alive_interval()) {
        record.KeepAlive = KeepAliveWithinBounds(info.keep_alive_interval(), "BackBoneIface::ParseReaderParams");
    }
    record.FreqChDelay = kRtcFreqChDelay;
    ApplyChannelTable(info);
    record.ChanArrayLen = SnapshotWorkingParams().ChanArrayLen;
    if (info.has_working_channel() &&
        ValidChannel("BackBoneIface::ParseReaderParams", info.working_channel(), record.ChanArrayLen)) {
        record.WorkingChann = static_cast<int32_t>(info.working_channel() - 1);
    }
    CopyReaderParam(record);
    SetSubGBoardParameters();
    ParamsUpdated = 1;
}

// Only the fields the RTC sent change: an absent field read as 0 would
// give the board a steady-state interval of 0 and the reader channel -1.
void BackBoneIface::ParseTagParams(const RFTagParametersInformation& info) {
    if (info.has_working_channel_index() &&
        ValidChannel("BackBoneIface::ParseTagParams", info.working_channel_index(), SnapshotChanArray().size())) {
        SetWorkingChann(static_cast<int32_t>(info.working_channel_index() - 1));
    }
    if (info.has_site_id()) SetSiteID(static_cast<int32_t>(info.site_id()));
    if (info.has_steady_state_interval()) {
        const uint32_t minutes = info.steady_state_interval();
        if (minutes > INT32_MAX / 60) {
            LogLine(LOG_ERR, "BackBoneIface::ParseTagParams: steady-state interval of %u minutes is too long, kept",
                   minutes);
        } else {
            SetSteadyStateIntervalProc(static_cast<int32_t>(minutes * 60));
        }
    }
}
