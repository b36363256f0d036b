// The configuration requests for the SubG board, built complete with their
// checksums. Pure logic, no I/O.
#pragma once

#include <cstdint>
#include <vector>

#include "subg/frame.h"
#include "subg/radio.h"
#include "subgconfig/freq_coding.h"

// The long region-and-table request carries the region, the count and four
// bytes per channel in one frame.
constexpr int kChannTableHeaderBytes = 2;
constexpr int kMaxPackedChannels = (kMaxFrameData - kChannTableHeaderBytes) / kFreqCodeBytes;
static_assert(kMaxPackedChannels == 62, "62 channels fill a frame");


// Packs at most kMaxPackedChannels entries of the table; the caller decides
// what to do with a longer one.
T7734FrameRequest ChannTableRequest(int32_t region, const std::vector<float>& table);
T7734FrameRequest RegionRequest(int32_t region);
T7734FrameRequest WorkingChannelRequest(int32_t channel);
T7734FrameRequest DiagIntervalRequest(int32_t minutes);
T7734FrameRequest SteadyStateRequest32(uint32_t seconds);
// The low 16 bits of the interval.
T7734FrameRequest SteadyStateRequest16(uint32_t seconds);
T7734FrameRequest OutputPowerRequest(uint8_t radio, uint8_t paCode);
// Radio, the encoded frequency and a trailing 0.
T7734FrameRequest RadioFreqRequest(uint8_t radio, float mhz);
