#include "subgconfig/freq_coding.h"

#include <cmath>

#include "platform/byte_order.h"

namespace {

constexpr int kBuiltInChannelCounts[kBuiltInRegions] = {15, 6, 5};
constexpr uint32_t kKhzPerMhz = 1000;
constexpr float kFirstUnencodableMhz = 65536.0f;

struct PowerCode {
    int dBm;
    uint8_t code;
};

constexpr PowerCode kPowerCodes[] = {
    {-11, 0x43}, {-6, 0x4F}, {-3, 0x56}, {0, 0x5D},  {1, 0x5F},  {2, 0x62},  {3, 0x64},
    {4, 0x66},   {5, 0x69},  {6, 0x6B},  {7, 0x6D},  {8, 0x6F},  {9, 0x72},  {10, 0x74},
    {11, 0x77},  {12, 0x79}, {13, 0x7B}, {14, 0x7D}, {15, 0x7F},
};

}  // namespace

int BuiltInChannelCount(int32_t region) {
    return region >= 0 && region < kBuiltInRegions ? kBuiltInChannelCounts[region] : 0;
}

bool MatchesBuiltInTable(int32_t region, const std::vector<float>& table) {
    int count = BuiltInChannelCount(region);
    if (count == 0 || table.size() != static_cast<size_t>(count)) return false;
    for (int i = 0; i < count; ++i) {
        if (table[static_cast<size_t>(i)] != BackwardCompatChannArray[region][i]) return false;
    }
    return true;
}

bool IsEncodableFreq(float mhz) {
    return std::isfinite(mhz) && mhz >= 0.0f && mhz < kFirstUnencodableMhz;
}

bool IsUsableRadioFreq(float mhz) {
    return IsEncodableFreq(mhz) && mhz >= kLowestRadioFreq && mhz < kFirstNonSubGFreq;
}

FreqCode EncodeFreq(float mhz) {
    if (!IsEncodableFreq(mhz)) return {0, 0};
    const float khzTotal = mhz * 1000.0f;
    const uint32_t k = static_cast<uint32_t>(khzTotal);
    return {static_cast<uint16_t>(k / kKhzPerMhz), static_cast<uint16_t>(k % kKhzPerMhz)};
}

float DecodeFreq(FreqCode code) {
    const float khz = static_cast<float>(code.khz) / 1000.0f;
    return static_cast<float>(code.mhz) + khz;
}

void PutFreqCode(uint8_t* out, FreqCode code) {
    PutLE16(out, code.mhz);
    PutLE16(out + 2, code.khz);
}

FreqCode GetFreqCode(const uint8_t* in) {
    return {GetLE16(in), GetLE16(in + 2)};
}

int CalcPA(int dBm) {
    for (const PowerCode& p : kPowerCodes) {
        if (p.dBm == dBm) return p.code;
    }
    return kNoPACode;
}

int8_t ParsePA(uint8_t code) {
    for (const PowerCode& p : kPowerCodes) {
        if (p.code == code) return static_cast<int8_t>(p.dBm);
    }
    return 0;
}
