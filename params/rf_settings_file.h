// The RF settings file's text, and the number and frequency parsers the
// console shares. Pure logic, no I/O.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

// What ParseNumStr and ParseNum give for text that is not a number.
constexpr int32_t kInvalidNum = std::numeric_limits<int32_t>::min();
// What ParseFreq gives for text that is not a frequency.
constexpr float kInvalidFreq = std::numeric_limits<float>::infinity();
// A power that is not set is left out of the file.
constexpr int kPowerNotSet = -1;
// Characters of a settings line that are read.
constexpr int kMaxRFSettingLine = 254;

// Base 10, leading blanks, a sign and trailing text accepted. A number
// outside 32 bits is reported on standard error and invalid.
int32_t ParseNumStr(const char* text);
// MHz. Anything not finite is invalid; an overflow is reported on standard
// error.
float ParseFreq(const char* text);

enum class RFSettingKind { Power, Freq };

struct RFSettingLine {
    RFSettingKind kind;
    uint8_t radio;      // 0 for radio 1, 1 for radio 2
    std::string value;  // not yet parsed
};

// Splits a line at commas. False for a line that is skipped: fewer than
// three fields, or a kind (F, else P) or radio (1, else 2) not found in its
// field.
bool ParseRFSettingLine(const std::string& line, RFSettingLine* out);

// The whole file: powers of radio 1 and 2, then frequencies of radio 1 and
// 2, leaving out kPowerNotSet and frequencies that are not finite.
std::string FormatRFSettings(int power1, int power2, float freq1, float freq2);
