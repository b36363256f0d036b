#include "upgrade/image_version.h"

#include <syslog.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kMinNameLength = 10;
constexpr size_t kPrefixLength = sizeof(kAppImagePrefix) - 1;
constexpr int kVersionPairs = 4;

// A pair that is not a number, or that the name cuts short, counts 0.
int Pair(const char* digits, size_t available, int index) {
    const size_t at = static_cast<size_t>(index) * 2;
    if (at >= available) return 0;
    char pair[3] = {digits[at], at + 1 < available ? digits[at + 1] : '\0', '\0'};
    return static_cast<int>(std::strtol(pair, nullptr, 10));
}

}  // namespace

int GetImageVersion(const char* name) {
    if (std::strlen(name) < kMinNameLength) {
        syslog(LOG_ERR, "GetImageVersion: file name too short");
        return -1;
    }
    const char* prefix = std::strstr(name, kAppImagePrefix);
    if (prefix == nullptr) prefix = std::strstr(name, kLoaderImagePrefix);
    if (prefix == nullptr) prefix = std::strstr(name, kHostImagePrefix);
    if (prefix == nullptr) {
        syslog(LOG_ERR, "GetImageVersion: file name %s does not contain neither %s, %s nor %s", name,
               kAppImagePrefix, kLoaderImagePrefix, kHostImagePrefix);
        return -1;
    }
    const char* digits = prefix + kPrefixLength;
    const size_t available = std::strlen(digits);
    int n[kVersionPairs];
    for (int i = 0; i < kVersionPairs; ++i) n[i] = Pair(digits, available, i);
    syslog(LOG_DEBUG, "GetImageVersion: numbers = %d.%d.%d.%d", n[0], n[1], n[2], n[3]);
    // Two decimal digits each: at most 99 << 24, well inside an int.
    return (n[0] << 24) + (n[1] << 16) + (n[2] << 8) + n[3];
}
