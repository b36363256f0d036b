// What the simulated board remembers between requests: the radio settings
// that the host pushes and later asks back. Kept in one value so that a
// reset pulse can leave it alone, as the board's flash would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A frequency as it travels on the serial line.
struct WireFrequency {
    uint16_t mhz = 0;
    uint16_t khz = 0;
};

// Single precision on purpose: the host rounds the same way, and an
// answer that differs in the last kilohertz makes it send a correction.
WireFrequency EncodeFrequency(float mhz);
float DecodeFrequency(uint16_t mhz, uint16_t khz);

// The channel table of region 0, which a board starts with.
std::vector<float> DefaultChannelTable();

// The table that board software without a table of the host's knows by
// itself for a region; empty for a region it does not know.
std::vector<float> BuiltInChannelTable(uint8_t region);

struct BoardState {
    float freq[2] = {907.0f, 907.0f};
    uint8_t power[2] = {0x7F, 0x7F};
    uint32_t steadySeconds = 300;
    uint8_t region = 0;
    std::vector<float> table = DefaultChannelTable();
    uint8_t channel = 0;
    uint8_t diagMinutes = 0;
    uint8_t ledWord = 0;
    uint8_t paramCheck = 1;  // the data byte of the parameter-check reply
};

// A board whose stored parameters were erased, in part or whole.
void ForgetFrequency(BoardState* state, int radio);
void ForgetSteadyState(BoardState* state);
void ForgetAll(BoardState* state);

// "tags, traffic, wifi 0": the LED word's bits by name.
std::string DescribeLedWord(uint8_t word);
