#include "console/console_io.h"

#include "platform/log.h"

#include <cmath>
#include <cstdio>

#include "params/rf_settings.h"
#include "params/rf_settings_file.h"
#include "platform/text_line.h"
#include "platform/timing.h"
#include "subg/request_queue.h"
#include "subgconfig/freq_coding.h"

namespace {

constexpr int kAfterRequestMicros = 100000;
// "903.100000" and then some: a frequency line holds no more.
constexpr size_t kMaxFreqInput = 30;

}  // namespace

bool ConsoleInputEnded() { return std::feof(stdin) || std::ferror(stdin); }

ConsoleLine ReadConsoleLine(std::string* line, size_t maxChars) {
    switch (ReadTextLine(stdin, maxChars, line)) {
        case TextLine::Read:
            return ConsoleLine::Read;
        case TextLine::TooLong:
            return ConsoleLine::TooLong;
        case TextLine::End:
            break;
    }
    std::perror("fgets");
    return ConsoleLine::Failed;
}

bool ReadConsoleFreq(float* mhz) {
    std::string text;
    if (ReadConsoleLine(&text, kMaxFreqInput) != ConsoleLine::Read) return false;
    const float typed = ParseFreq(text.c_str());
    if (!std::isfinite(typed)) return false;
    if (!IsUsableRadioFreq(typed)) {
        std::fprintf(stderr, "Frequency must be from %.3f to under %.0f MHz\n", kLowestRadioFreq, kFirstNonSubGFreq);
        return false;
    }
    *mhz = typed;
    return true;
}

bool ReadConsoleNumber(const ConsoleNumberRange& range, int32_t* value) {
    const int32_t typed = ParseNum();
    if (typed == kInvalidNum) return false;
    if (typed < range.lowest || typed > range.highest) {
        std::fprintf(stderr, "%s must be %d to %d%s\n", range.name, range.lowest, range.highest, range.unit);
        return false;
    }
    *value = typed;
    return true;
}

void QueueConsoleRequest(const T7734FrameRequest& request) {
    std::fprintf(stderr, "RequestMsg.Len = %d\n", request.length);
    AddSubGRequest(request);
    MicroSecSleep(kAfterRequestMicros);
    LogLine(LOG_DEBUG, "CmdParseLineProc: Message sent");
}
