#include "params/rf_settings_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "subg/radio.h"

namespace {

constexpr size_t kSettingFields = 3;

std::vector<std::string> SplitAtCommas(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

constexpr char kFreqKind = 'F';
constexpr char kPowerKind = 'P';

bool FieldHas(const std::string& field, char c) {
    return field.find(c) != std::string::npos;
}

template <typename Value>
void AppendSetting(std::string* text, const char* format, char kind, Value value) {
    char line[64];
    std::snprintf(line, sizeof line, format, kind, value);
    *text += line;
}

}  // namespace

int32_t ParseNumStr(const char* text) {
    if (text == nullptr) return kInvalidNum;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno == ERANGE || value > std::numeric_limits<int32_t>::max() ||
        value < std::numeric_limits<int32_t>::min()) {
        errno = ERANGE;
        std::perror("strtol");
        return kInvalidNum;
    }
    if (end == text) return kInvalidNum;
    return static_cast<int32_t>(value);
}

float ParseFreq(const char* text) {
    if (text == nullptr) return kInvalidFreq;
    char* end = nullptr;
    errno = 0;
    const float mhz = std::strtof(text, &end);
    if (end == text) return kInvalidFreq;
    const bool failed = errno != 0 && (mhz == 0.0f || !std::isfinite(mhz));
    if (failed) std::perror("strtof");
    if (failed || !std::isfinite(mhz)) return kInvalidFreq;
    return mhz;
}

bool ParseRFSettingLine(const std::string& line, RFSettingLine* out) {
    const std::vector<std::string> fields = SplitAtCommas(line);
    if (fields.size() < kSettingFields) return false;
    if (FieldHas(fields[0], kFreqKind)) {
        out->kind = RFSettingKind::Freq;
    } else if (FieldHas(fields[0], kPowerKind)) {
        out->kind = RFSettingKind::Power;
    } else {
        return false;
    }
    if (FieldHas(fields[1], '1')) {
        out->radio = kRadio1;
    } else if (FieldHas(fields[1], '2')) {
        out->radio = kRadio2;
    } else {
        return false;
    }
    out->value = fields[2];
    return true;
}

std::string FormatRFSettings(int power1, int power2, float freq1, float freq2) {
    std::string text;
    if (power1 != kPowerNotSet) AppendSetting(&text, "%c,1,%d\n", kPowerKind, power1);
    if (power2 != kPowerNotSet) AppendSetting(&text, "%c,2,%d\n", kPowerKind, power2);
    if (std::isfinite(freq1)) AppendSetting(&text, "%c,1,%f\n", kFreqKind, static_cast<double>(freq1));
    if (std::isfinite(freq2)) AppendSetting(&text, "%c,2,%f\n", kFreqKind, static_cast<double>(freq2));
    return text;
}
