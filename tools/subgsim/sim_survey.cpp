#include "tools/subgsim/sim_survey.h"

#include "tools/subgsim/sim_state.h"

namespace {
constexpr int kBoardRssiOffset = 102;
}

int SimSurveyDbm(size_t channel, int reading) { return -110 + static_cast<int>(channel) + reading % 4; }

void SimSurvey::Start(const std::vector<float>& table, uint8_t radios) {
    table_ = table;
    radios_ = radios == kSimBothRadios ? std::vector<uint8_t>{0, 1} : std::vector<uint8_t>{radios};
    channel_ = 0;
    step_ = 0;
    running_ = !table_.empty() && radios <= kSimBothRadios;
}

std::array<uint8_t, 7> SimSurvey::NextReading() {
    const uint8_t radio = radios_[step_ % radios_.size()];
    const int reading = static_cast<int>(step_ / radios_.size());
    const WireFrequency f = EncodeFrequency(table_[channel_]);
    const uint8_t raw = static_cast<uint8_t>(SimSurveyDbm(channel_, reading) + kBoardRssiOffset);
    const std::array<uint8_t, 7> data = {0,
                                         radio,
                                         raw,
                                         static_cast<uint8_t>(f.mhz),
                                         static_cast<uint8_t>(f.mhz >> 8),
                                         static_cast<uint8_t>(f.khz),
                                         static_cast<uint8_t>(f.khz >> 8)};
    if (++step_ == kSimReadingsPerChannel * radios_.size()) {
        step_ = 0;
        if (++channel_ == table_.size()) running_ = false;
    }
    return data;
}
