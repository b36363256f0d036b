#include "platform/reset_line.h"

#include "platform/log.h"

#include <cstdio>

#include "platform/timing.h"

namespace {

std::string ResetLineDir = "/sys/class/gpio/gpio109";
constexpr int kResetPulseMicros = 500000;

bool WriteAndFlush(FILE* f, const char* text) {
    bool ok = std::fputs(text, f) >= 0;
    return std::fflush(f) == 0 && ok;
}

}  // namespace

void SetResetLineDir(const std::string& dir) { ResetLineDir = dir; }

bool PulseResetLine(int lowMicros) {
    FILE* direction = std::fopen((ResetLineDir + "/direction").c_str(), "w");
    if (!direction) return false;
    WriteAndFlush(direction, "out");
    std::fclose(direction);

    FILE* value = std::fopen((ResetLineDir + "/value").c_str(), "w");
    if (!value) return false;
    WriteAndFlush(value, "0");
    MicroSecSleep(lowMicros);
    std::rewind(value);
    WriteAndFlush(value, "1");
    std::fclose(value);
    return true;
}

int HWResetSubGBoard() {
    LogLine(LOG_INFO, "Resetting subG");
    return PulseResetLine(kResetPulseMicros) ? 1 : 0;
}
