#include "fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "subg/request_queue.h"
#include "tags/csv_logs.h"

// The daemon's log lines are formatted in full, so that AddressSanitizer
// sees every argument a format reads, and then dropped: a fuzzer writes
// millions, and a host's syslog must not get them.
extern "C" void vsyslog(int, const char* format, va_list args) {
    char line[2048];
    std::vsnprintf(line, sizeof line, format, args);
}

extern "C" void syslog(int priority, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

// What a fortified syslog call becomes.
extern "C" void __syslog_chk(int priority, int, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

namespace {

std::string FuzzDir;

void RemoveFuzzDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FuzzDir, ignored);
}

}  // namespace

void EnterFuzzDir() {
    if (!FuzzDir.empty()) return;
    char pattern[] = "/tmp/tarnel-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) {
        std::perror("tarnel fuzz directory");
        std::abort();
    }
    FuzzDir = pattern;
    std::atexit(RemoveFuzzDir);
    std::snprintf(LogDir, sizeof LogDir, "%s", "./no-logs");
}

void OpenActivityLogNowhere() {
    std::snprintf(LogFile, sizeof LogFile, "%s", "/dev/null");
    OpenTagsActFile();
}

void WriteFuzzFile(const char* path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
}

void DrainSubGRequests() {
    T7734FrameRequest request;
    while (PendingSubGRequests() > 0 && GetNextSubGBReq(&request) == 1) {
        RMSubGRequest(MakeReply(request.opcode));
    }
}

bool ReadStdinFrom(const char* path) { return std::freopen(path, "r", stdin) != nullptr; }
