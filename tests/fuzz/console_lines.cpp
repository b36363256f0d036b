// What an operator types at the maintenance console: menu numbers,
// frequencies, firmware paths with their versions.
#include <cstdio>
#include <string>

#include "console/console_io.h"
#include "console/tag_firmware.h"
#include "fuzz_support.h"
#include "params/rf_settings.h"

namespace {

constexpr char kInputPath[] = "./console-input";
constexpr int kMaxRounds = 256;
constexpr size_t kMaxPathInput = 255;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EnterFuzzDir();  // once; later calls return at once
    WriteFuzzFile(kInputPath, data, size);
    if (!ReadStdinFrom(kInputPath)) __builtin_trap();
    for (int round = 0; round < kMaxRounds && !ConsoleInputEnded(); ++round) {
        ParseNum();
        float mhz = 0;
        ReadConsoleFreq(&mhz);
        std::string path;
        if (ReadConsoleLine(&path, kMaxPathInput) == ConsoleLine::Read) {
            TagFwVersion version{};
            extractVersion(path, &version);
        }
    }
    return 0;
}
