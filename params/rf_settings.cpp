#include "params/rf_settings.h"

#include "platform/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "params/rf_settings_file.h"
#include "params/working_params.h"
#include "platform/atomic_file.h"
#include "platform/text_line.h"

std::atomic<int> Radio1Power{15};
std::atomic<int> Radio2Power{15};

namespace {

constexpr int kMaxNumInput = 14;

}  // namespace

// Written aside and renamed over the old file: a cut-short "P,1,15" would
// otherwise come back as a valid 1 dBm.
void SaveRFSettings() {
    const std::string text = FormatRFSettings(Radio1Power, Radio2Power, Radio1Freq, Radio2Freq);
    if (!WriteFileAtomically(RFSettingFilePath, text.data(), text.size())) {
        LogLine(LOG_ERR, "SaveRFSettings: failed to write %s (%s)", RFSettingFilePath, std::strerror(errno));
    }
}

int32_t ParseNum() {
    std::string typed;
    if (ReadTextLine(stdin, kMaxNumInput, &typed) == TextLine::End) {
        std::perror("fgets");
        return kInvalidNum;
    }
    return ParseNumStr(typed.c_str());
}
