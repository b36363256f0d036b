// A firmware image for the board dropped into the working directory: its
// name, the check of its lines before the board is touched, and the frames
// its lines travel in.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "upgrade/image_files.h"
#include "upgrade/upgrade.h"

namespace {

constexpr char kImagePath[] = "./RD2_A_01_01020304.hex";

// Cuts the image as the upgrade sends it: lines with their line endings.
void FrameLines(const uint8_t* data, size_t size) {
    size_t start = 0;
    for (uint16_t number = 0; start < size; ++number) {
        const void* newline = std::memchr(data + start, '\n', size - start);
        const size_t end = newline ? static_cast<const uint8_t*>(newline) - data + 1 : size;
        if (end - start > static_cast<size_t>(kMaxImageLineChars)) return;
        ImageLineRequest(1, number, reinterpret_cast<const char*>(data + start), end - start);
        start = end;
    }
}

}  // namespace

// The first line is taken as a file name too.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EnterFuzzDir();  // once; later calls return at once
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string name = text.substr(0, std::min<size_t>(text.find('\n'), kImageNameSize - 1));
    GetImageVersion(name.c_str());
    ImageActionOfName(name.c_str());

    WriteFuzzFile(kImagePath, data, size);
    if (CheckImageLines(kImagePath) == ImageCheck::kGood) FrameLines(data, size);
    return 0;
}
