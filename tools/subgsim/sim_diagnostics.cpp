#include "tools/subgsim/sim_diagnostics.h"

#include "tools/subgsim/sim_board.h"

namespace {

constexpr size_t kWithFrequencies = 146;
constexpr size_t kWithoutFrequencies = 138;
constexpr size_t kSelfTests = 16;

void PutU32(std::vector<uint8_t>* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutFrequencyWord(std::vector<uint8_t>* out, float mhz) {
    const WireFrequency f = EncodeFrequency(mhz);
    PutU32(out, f.mhz | (uint32_t{f.khz} << 16));
}

}  // namespace

std::vector<uint8_t> DiagnosticsPayload(const SoftwareVersion& version, const BoardState& state) {
    const bool known = (version.major | version.minor | version.build) != 0;
    std::vector<uint8_t> out;
    out.reserve(kWithFrequencies);
    if (known && !IsModernVersion(version)) {
        PutFrequencyWord(&out, state.freq[0]);
        PutFrequencyWord(&out, state.freq[1]);
    }
    // Radio 1's last self-test failed; every other one succeeded.
    for (size_t i = 0; i < 2 * kSelfTests; ++i) out.push_back(i == kSelfTests - 1 ? 1 : 0);
    // Packet failures, radio state counters and out-of-lock counters of
    // both radios: 1 to 18 in table order.
    for (uint32_t counter = 1; counter <= 18; ++counter) PutU32(&out, counter);
    out.push_back(19);  // radio 1 CS_LOW_TO
    out.push_back(20);  // radio 2 CS_LOW_TO
    out.push_back(21);  // hard faults
    PutU32(&out, 30);   // seconds without a tag
    PutU32(&out, kSimTotalTagPack);
    PutU32(&out, 7);    // collisions
    PutU32(&out, 3);    // bad format
    PutU32(&out, 2);    // ignored or NACKed
    PutU32(&out, 1);    // FIFO overflows
    out.push_back(kSimAvgRSSIRaw);
    out.push_back(35);  // average temperature
    out.push_back(0);   // temperature exceeded
    out.push_back(4);   // board resets
    out.push_back(5);   // board errors
    out.push_back(6);   // foreign tags
    out.push_back(0);   // not interpreted
    return out;
}
