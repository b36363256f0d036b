// How frequencies and output powers travel to the SubG board, and the
// channel tables that board software up to version 10609 knows by itself.
// Pure logic, no I/O.
#pragma once

#include <cstdint>
#include <vector>

// A frequency on the serial link: whole megahertz and the remaining
// kilohertz (0 to 999), each a little-endian 16-bit number.
struct FreqCode {
    uint16_t mhz;
    uint16_t khz;
};
constexpr int kFreqCodeBytes = 4;

constexpr int kBuiltInRegions = 3;  // USA, Europe, Israel
constexpr int kBuiltInTableRoom = 15;

// Unused places are 0.
inline constexpr float BackwardCompatChannArray[kBuiltInRegions][kBuiltInTableRoom] = {
    {907.0f, 908.1f, 909.2f, 910.3f, 911.4f, 912.5f, 913.6f, 914.7f, 915.8f, 916.9f, 917.0f, 918.1f, 919.2f,
     920.3f, 921.4f},
    {868.1f, 868.3f, 868.5f, 868.8f, 869.0f, 869.8f},
    {915.5f, 915.7f, 915.9f, 916.1f, 916.3f},
};

// Nothing below the lowest built-in channel is a frequency the radios are
// meant to have: 0.0 is what an unset frequency looks like.
constexpr float kLowestRadioFreq = BackwardCompatChannArray[1][0];
// The radios are sub-GHz ones.
constexpr float kFirstNonSubGFreq = 1000.0f;

// Channels of a region's built-in table; 0 for a region without one.
int BuiltInChannelCount(int32_t region);
// True when the table is exactly the region's built-in table.
bool MatchesBuiltInTable(int32_t region, const std::vector<float>& table);

// True for a frequency the 16-bit megahertz field can carry.
bool IsEncodableFreq(float mhz);
// True for a frequency a radio may be set to: kLowestRadioFreq and up,
// below kFirstNonSubGFreq.
bool IsUsableRadioFreq(float mhz);

// kHz = mhz * 1000 in single precision, truncated. A frequency that cannot
// be encoded gives 0 MHz 0 kHz.
FreqCode EncodeFreq(float mhz);
// mhz + khz / 1000 in single precision.
float DecodeFreq(FreqCode code);

void PutFreqCode(uint8_t* out, FreqCode code);
FreqCode GetFreqCode(const uint8_t* in);

constexpr int kNoPACode = 0xFF;
// The power-amplifier code for an output power in dBm; kNoPACode for a
// power the board does not take.
int CalcPA(int dBm);
// The output power in dBm of a power-amplifier code; 0 for a code not in
// the table.
int8_t ParsePA(uint8_t code);
