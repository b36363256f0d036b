#include "app/md5sum.h"

#include "platform/log.h"

#include <cstdio>

#include "app/md5.h"

ChecksumSt TarnelChkSum = {0, 0};

namespace {
constexpr size_t kReadBlock = 512;
}

bool Md5OfFile(const char* path, uint8_t digest[16]) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    Md5Context ctx;
    Md5Begin(&ctx);
    uint8_t block[kReadBlock];
    size_t n;
    while ((n = std::fread(block, 1, sizeof(block), f)) > 0) Md5Update(&ctx, block, n);
    Md5End(&ctx, digest);
    std::fclose(f);
    return true;
}

void CalcMD5(const char* path) {
    LogLine(LOG_DEBUG, "CalcMD5: calculating md5sum on file %s\n", path);
    uint8_t digest[16];
    if (!Md5OfFile(path, digest)) {
        LogLine(LOG_DEBUG, "Failed to open file %s\n", path);
        return;
    }
    TarnelChkSum.High = digest[14];
    TarnelChkSum.Low = digest[15];
    LogLine(LOG_DEBUG, "Checksum.High = %02x, Checksum.Low = %02x", TarnelChkSum.High, TarnelChkSum.Low);
}
