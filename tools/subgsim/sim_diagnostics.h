// The simulated board's own diagnostics: fixed, recognisable counters, so
// that a test knows what the host must report, in the layout the board's
// software version sends.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/subgsim/sim_state.h"

struct SoftwareVersion;

// Raw AvgRSSI byte of the summary block: -82 dBm once the host has taken
// its offset off.
constexpr uint8_t kSimAvgRSSIRaw = 20;
constexpr uint32_t kSimTotalTagPack = 123456;

// 146 bytes with the two radio frequencies in front for software 0.0.1 to
// 1.6.9, else 138 bytes.
std::vector<uint8_t> DiagnosticsPayload(const SoftwareVersion& version, const BoardState& state);
