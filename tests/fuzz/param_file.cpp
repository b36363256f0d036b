// The working parameters file, "./ParamFiles.txt", as a start reads it:
// any bytes a power cut or a technician left.
#include "fuzz_support.h"
#include "params/working_params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EnterFuzzDir();  // once; later calls return at once
    WriteFuzzFile(ParamFilName, data, size);
    LoadParams();
    return 0;
}
