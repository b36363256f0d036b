#include "subgconfig/config_requests.h"

#include <algorithm>

#include "platform/byte_order.h"
#include "subg/opcodes.h"

namespace {

constexpr size_t kRadioFreqDataBytes = 6;  // radio, frequency, a byte the board ignores

T7734FrameRequest OneByteRequest(uint8_t opcode, uint8_t value) {
    return MakeRequest(opcode, &value, 1);
}

T7734FrameRequest TwoByteRequest(uint8_t opcode, uint8_t first, uint8_t second) {
    const uint8_t data[2] = {first, second};
    return MakeRequest(opcode, data, sizeof data);
}

}  // namespace

T7734FrameRequest ChannTableRequest(int32_t region, const std::vector<float>& table) {
    const size_t count = std::min<size_t>(table.size(), kMaxPackedChannels);
    uint8_t data[kMaxFrameData] = {};
    data[0] = static_cast<uint8_t>(region);
    data[1] = static_cast<uint8_t>(count);
    for (size_t i = 0; i < count; ++i) {
        PutFreqCode(data + kChannTableHeaderBytes + kFreqCodeBytes * i, EncodeFreq(table[i]));
    }
    return MakeRequest(SubGOp::SetRegionAndTable, data, kChannTableHeaderBytes + kFreqCodeBytes * count);
}

T7734FrameRequest RegionRequest(int32_t region) {
    return OneByteRequest(SubGOp::SetRegionAndTable, static_cast<uint8_t>(region));
}

T7734FrameRequest WorkingChannelRequest(int32_t channel) {
    return OneByteRequest(SubGOp::SetWorkingChannel, static_cast<uint8_t>(channel));
}

T7734FrameRequest DiagIntervalRequest(int32_t minutes) {
    return OneByteRequest(SubGOp::SetDiagInterval, static_cast<uint8_t>(minutes));
}

T7734FrameRequest SteadyStateRequest32(uint32_t seconds) {
    uint8_t data[4];
    PutLE32(data, seconds);
    return MakeRequest(SubGOp::SetSteadyStateInterval, data, sizeof data);
}

T7734FrameRequest SteadyStateRequest16(uint32_t seconds) {
    return TwoByteRequest(SubGOp::SetSteadyStateInterval, static_cast<uint8_t>(seconds),
                          static_cast<uint8_t>(seconds >> 8));
}

T7734FrameRequest OutputPowerRequest(uint8_t radio, uint8_t paCode) {
    return TwoByteRequest(SubGOp::SetOutputPower, radio, paCode);
}

T7734FrameRequest RadioFreqRequest(uint8_t radio, float mhz) {
    uint8_t data[kRadioFreqDataBytes] = {radio};
    PutFreqCode(data + 1, EncodeFreq(mhz));
    return MakeRequest(SubGOp::SetFreq, data, sizeof data);
}
