// The working parameters file, "./ParamFiles.txt", as a start reads it:
// any bytes a power cut or a technician left.
#include "fuzz_support.h"
#include "params/working_params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        EnterFuzzDir();
        return true;
    }();
    (void)ready;
    WriteFuzzFile(ParamFilName, data, size);
    LoadParams();
    return 0;
}
