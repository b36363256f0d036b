// Little-endian numbers inside serial payloads and stored records, coded
// byte by byte so that neither the processor's byte order nor alignment
// matters.
#pragma once

#include <cstdint>

inline uint16_t GetLE16(const uint8_t* in) { return static_cast<uint16_t>(in[0] | in[1] << 8); }

inline uint32_t GetLE32(const uint8_t* in) {
    return uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 | uint32_t{in[3]} << 24;
}

inline void PutLE16(uint8_t* out, uint16_t v) {
    out[0] = static_cast<uint8_t>(v);
    out[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutLE32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}
