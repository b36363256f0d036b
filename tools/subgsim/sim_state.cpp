#include "tools/subgsim/sim_state.h"

namespace {

// The first frequency whose whole megahertz no longer fit in 16 bits.
constexpr float kTooHighKhz = 65536000.0f;

}  // namespace

WireFrequency EncodeFrequency(float mhz) {
    float khzTotal = mhz * 1000.0f;
    // Out-of-range values would make the conversion undefined.
    if (!(khzTotal >= 0.0f)) return {0, 0};
    if (khzTotal >= kTooHighKhz) return {65535, 999};
    uint32_t k = static_cast<uint32_t>(khzTotal);
    return {static_cast<uint16_t>(k / 1000), static_cast<uint16_t>(k % 1000)};
}

float DecodeFrequency(uint16_t mhz, uint16_t khz) {
    return static_cast<float>(mhz) + static_cast<float>(khz) / 1000.0f;
}

std::vector<float> DefaultChannelTable() { return BuiltInChannelTable(0); }

std::vector<float> BuiltInChannelTable(uint8_t region) {
    switch (region) {
        case 0:
            return {907.0f, 908.1f, 909.2f, 910.3f, 911.4f, 912.5f, 913.6f, 914.7f,
                    915.8f, 916.9f, 917.0f, 918.1f, 919.2f, 920.3f, 921.4f};
        case 1: return {868.1f, 868.3f, 868.5f, 868.8f, 869.0f, 869.8f};
        case 2: return {915.5f, 915.7f, 915.9f, 916.1f, 916.3f};
        default: return {};
    }
}

void ForgetFrequency(BoardState* state, int radio) {
    if (radio == 0 || radio == 1) state->freq[radio] = 0.0f;
}

void ForgetSteadyState(BoardState* state) { state->steadySeconds = 0; }

void ForgetAll(BoardState* state) {
    state->freq[0] = state->freq[1] = 0.0f;
    state->power[0] = state->power[1] = 0;
    state->steadySeconds = 0;
    state->region = 0;
    state->table.clear();
    state->channel = 0;
    state->diagMinutes = 0;
}

std::string DescribeLedWord(uint8_t word) {
    static const char* const names[4] = {"tags", "blink", "rtc", "traffic"};
    std::string text;
    for (int bit = 0; bit < 4; ++bit) {
        if (word & (0x10 << bit)) text += std::string(names[bit]) + ", ";
    }
    return text + "wifi " + std::to_string(word & 0x0F);
}
