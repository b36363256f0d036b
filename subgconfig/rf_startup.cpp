#include "subgconfig/rf_startup.h"

#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "params/rf_settings.h"
#include "params/rf_settings_file.h"
#include "params/working_params.h"
#include "platform/text_line.h"
#include "platform/timing.h"
#include "subg/radio.h"
#include "subg/request_queue.h"
#include "subg/scheduler.h"
#include "subgconfig/config_requests.h"
#include "subgconfig/freq_coding.h"
#include "subgconfig/frequencies.h"

std::atomic<uint8_t> ReadyForRTC{0};

namespace {

constexpr int kConnectPollMicros = 5000;
// A settings file holds a handful of lines; anything far longer is not one.
constexpr int kMaxRFSettingLines = 1024;
// The line end counted.
constexpr size_t kMaxRFSettingChars = kMaxRFSettingLine + 1;

enum class SettingLine { Usable, Skipped, End };

// One line without its line end, nor anything from a carriage return on.
// Over-long lines are skipped, and so are lines holding a NUL byte: a power
// cut leaves zero-filled blocks, and "P,1,15" cut to "P,1,1" must not pass
// as a valid setting.
SettingLine ReadSettingLine(FILE* file, std::string* line) {
    const TextLine read = ReadTextLine(file, kMaxRFSettingChars, line);
    if (read == TextLine::End) return SettingLine::End;
    if (read == TextLine::TooLong || HasNulByte(*line)) return SettingLine::Skipped;
    line->resize(std::min(line->size(), line->find('\r')));
    return SettingLine::Usable;
}

// The last table entry equal to the frequency becomes the working channel.
void FollowTableChannel(float mhz) {
    const std::vector<float> table = SnapshotChanArray();
    for (size_t i = table.size(); i > 0; --i) {
        if (table[i - 1] == mhz) {
            SetWorkingChann(static_cast<int32_t>(i - 1));
            return;
        }
    }
}

// False when the rest of the file must not be applied.
bool ApplyFreqSetting(const RFSettingLine& setting) {
    const float mhz = ParseFreq(setting.value.c_str());
    if (!std::isfinite(mhz)) {
        LogLine(LOG_ERR, "LoadAndSetRFSettings: invalid frequency \"%s\", the rest of %s not applied",
               setting.value.c_str(), RFSettingFilePath);
        return false;
    }
    if (!IsUsableRadioFreq(mhz)) {
        LogLine(LOG_ERR, "LoadAndSetRFSettings: frequency %f of radio %d is not one a radio may have, skipped", mhz,
               setting.radio + 1);
        return true;
    }
    LogLine(LOG_INFO, "LoadAndSetRFSettings: Freq %f, radio %x", mhz, setting.radio);
    FollowTableChannel(mhz);
    SetRadioFreq(mhz);
    AddSubGRequest(RadioFreqRequest(setting.radio, mhz));
    LogLine(LOG_INFO, "LoadAndSetRFSettings: Message sent");
    return true;
}

void ApplyPowerSetting(const RFSettingLine& setting) {
    const int32_t dBm = ParseNumStr(setting.value.c_str());
    const int code = CalcPA(dBm);
    if (code == kNoPACode) {
        LogLine(LOG_ERR, "LoadAndSetRFSettings: output power \"%s\" of radio %d is not one the board takes, skipped",
               setting.value.c_str(), setting.radio + 1);
        return;
    }
    (setting.radio == kRadio1 ? Radio1Power : Radio2Power) = dBm;
    AddSubGRequest(OutputPowerRequest(setting.radio, static_cast<uint8_t>(code)));
    LogLine(LOG_INFO, "LoadAndSetRFSettings: Message sent");
}

void ApplyRFSettings(FILE* file) {
    std::string line;
    for (int n = 0; n < kMaxRFSettingLines; ++n) {
        const SettingLine read = ReadSettingLine(file, &line);
        if (read == SettingLine::End) return;
        if (read == SettingLine::Usable && line.empty()) continue;
        RFSettingLine setting;
        if (read == SettingLine::Skipped || !ParseRFSettingLine(line, &setting)) {
            LogLine(LOG_ERR, "LoadAndSetRFSettings: line %d of %s skipped", n + 1, RFSettingFilePath);
            continue;
        }
        if (setting.kind == RFSettingKind::Power) {
            ApplyPowerSetting(setting);
        } else if (!ApplyFreqSetting(setting)) {
            return;
        }
    }
    LogLine(LOG_ERR, "LoadAndSetRFSettings: %s has more than %d lines, the rest not applied", RFSettingFilePath,
           kMaxRFSettingLines);
}

}  // namespace

void WaitForSubGBoard() {
    while (!SubGBoardConnected) MicroSecSleep(kConnectPollMicros);
}

// The parameter set owed since the board's first answer goes before the
// file's settings, so that those are what the radios end with.
void LoadAndSetRFSettings() {
    WaitForSubGBoard();
    LoadParams();
    SendOwedBoardParameters();
    FILE* file = std::fopen(RFSettingFilePath, "r");
    if (file != nullptr) {
        ApplyRFSettings(file);
        std::fclose(file);
    }
    ReadyForRTC = 1;
    LogLine(LOG_INFO, "LoadAndSetRFSettings: ReadyForRTC set");
}
