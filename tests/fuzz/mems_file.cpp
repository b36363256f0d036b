// The tags' MEMS parameters, "MEMS_Param.txt" in the log directory, as the
// main thread reads it and the scheduler acts on it.
#include <string>

#include "fuzz_support.h"
#include "platform/paths.h"
#include "subgconfig/mems_params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        EnterFuzzDir();
        std::snprintf(LogDir, sizeof LogDir, "%s", ".");
        return true;
    }();
    (void)ready;
    WriteFuzzFile((std::string(LogDir) + "/" + kMEMSParamFileName).c_str(), data, size);
    RefreshMEMSParamFile();
    NeedToChangeMEMSParam();
    UpdateMEMSFiletrParams();
    DrainSubGRequests();
    return 0;
}
