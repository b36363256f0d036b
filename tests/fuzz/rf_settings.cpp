// The technician's radio settings, ".//RF_SettingFile.txt", applied as the
// console thread starts.
#include "fuzz_support.h"
#include "params/rf_settings.h"
#include "subg/scheduler.h"
#include "subgconfig/rf_startup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        EnterFuzzDir();
        SubGBoardConnected = 1;  // the start-up procedure must not wait
        return true;
    }();
    (void)ready;
    WriteFuzzFile(RFSettingFilePath, data, size);
    LoadAndSetRFSettings();
    DrainSubGRequests();
    return 0;
}
