// The board's two radios as the link numbers them, and the signal strength
// they report.
#pragma once

#include <cstdint>

// Radio numbers on the link: 0 is radio 1, 1 is radio 2.
constexpr uint8_t kRadio1 = 0;
constexpr uint8_t kRadio2 = 1;

// "RADIO_1" for radio 1, "RADIO_2" for any other number.
inline const char* RadioName(uint8_t radio) { return radio == kRadio1 ? "RADIO_1" : "RADIO_2"; }

// The board reports RSSI as a signed byte this far above the value in dBm.
constexpr int kRssiOffsetDbm = 102;

inline int RssiDbm(uint8_t raw) { return static_cast<int8_t>(raw) - kRssiOffsetDbm; }
