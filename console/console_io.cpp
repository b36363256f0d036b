#include "console/console_io.h"

#include <syslog.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "params/rf_settings.h"
#include "params/rf_settings_file.h"
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
    std::vector<char> buf(maxChars + 1);
    if (std::fgets(buf.data(), static_cast<int>(buf.size()), stdin) == nullptr) {
        std::perror("fgets");
        return ConsoleLine::Failed;
    }
    const char* end = std::strchr(buf.data(), '\n');
    if (end == nullptr && !std::feof(stdin)) {
        DropRestOfLine(stdin);
        return ConsoleLine::TooLong;
    }
    line->assign(buf.data(), end != nullptr ? static_cast<size_t>(end - buf.data()) : std::strlen(buf.data()));
    return ConsoleLine::Read;
}

bool ReadConsoleFreq(float* mhz) {
    std::string text;
    if (ReadConsoleLine(&text, kMaxFreqInput) != ConsoleLine::Read) return false;
    const float typed = ParseFreq(text.c_str());
    if (!IsUsableRadioFreq(typed)) return false;
    *mhz = typed;
    return true;
}

void QueueConsoleRequest(const T7734FrameRequest& request) {
    std::fprintf(stderr, "RequestMsg.Len = %d\n", request.length);
    AddSubGRequest(request);
    MicroSecSleep(kAfterRequestMicros);
    syslog(LOG_DEBUG, "CmdParseLineProc: Message sent");
}
