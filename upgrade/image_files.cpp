#include "upgrade/image_files.h"

#include <dirent.h>
#include <syslog.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "platform/byte_order.h"
#include "subg/opcodes.h"

int ImgAction = kNoImageAction;
uint32_t ImageVersion = 0;
char FW_File_name[kImageNameSize] = "";

namespace {

constexpr size_t kPrefixLen = sizeof(kAppImagePrefix) - 1;
constexpr size_t kVersionChars = 8;
constexpr size_t kMinNameLen = 10;
constexpr uint8_t kImageLineFlag = 1;
constexpr const char* kImageDir = "./";

// Tested in this order against the start of a name.
const struct {
    const char* prefix;
    ImageAction action;
} kImagePrefixes[] = {
    {"RD2_A_01_", kInstallApplication},
    {"DE_RD2_A_01_", kDeactivateApplication},
    {"RD2_L_01_", kInstallBootLoader},
    {"DE_RD2_L_01_", kDeactivateBootLoader},
};

// The leading decimal digits of a two-character pair; a pair that does not
// start with a digit counts 0.
int PairValue(const char* pair) {
    int value = 0;
    for (int i = 0; i < 2 && std::isdigit(static_cast<unsigned char>(pair[i])); ++i) value = value * 10 + (pair[i] - '0');
    return value;
}

const char* FindVersionPrefix(const char* name) {
    for (const char* prefix : {kAppImagePrefix, kLoaderImagePrefix, kHostImagePrefix}) {
        const char* at = std::strstr(name, prefix);
        if (at) return at;
    }
    return nullptr;
}

}  // namespace

int GetImageVersion(const char* name) {
    if (std::strlen(name) < kMinNameLen) {
        syslog(LOG_ERR, "GetImageVersion: file name too short");
        return -1;
    }
    const char* prefix = FindVersionPrefix(name);
    if (!prefix) {
        syslog(LOG_ERR, "GetImageVersion: file name %s does not contain neither %s, %s nor %s", name, kAppImagePrefix,
               kLoaderImagePrefix, kHostImagePrefix);
        return -1;
    }
    const char* digits = prefix + kPrefixLen;
    // A name that ends within the eight characters has no version to read.
    if (std::strlen(digits) < kVersionChars) {
        syslog(LOG_ERR, "GetImageVersion: could not parse image version %s (%s)", digits, "fewer than 8 characters");
        return -1;
    }
    int n[4];
    for (int i = 0; i < 4; ++i) n[i] = PairValue(digits + 2 * i);
    syslog(LOG_DEBUG, "GetImageVersion: numbers = %d.%d.%d.%d", n[0], n[1], n[2], n[3]);
    return (n[0] << 24) + ((n[1] << 16) & 0xFF0000) + ((n[2] << 8) & 0xFFFF) + n[3];
}

ImageAction ImageActionOfName(const char* name) {
    for (const auto& entry : kImagePrefixes) {
        if (std::strncmp(name, entry.prefix, std::strlen(entry.prefix)) == 0) return entry.action;
    }
    return kNoImageAction;
}

int CheckForUpdateFile() {
    FW_File_name[0] = '\0';
    DIR* dir = opendir(kImageDir);
    if (!dir) {
        syslog(LOG_ERR, "CheckForUpdateFile: Failed to open directory %s", kImageDir);
        return 0;
    }
    ImgAction = kNoImageAction;
    const dirent* entry = nullptr;
    while ((entry = readdir(dir)) != nullptr) {
        ImgAction = ImageActionOfName(entry->d_name);
        if (ImgAction != kNoImageAction) break;
    }
    if (ImgAction == kNoImageAction) {
        closedir(dir);
        return 0;
    }
    std::snprintf(FW_File_name, sizeof(FW_File_name), "%s", entry->d_name);
    syslog(LOG_DEBUG, "CheckForUpdateFile: found file %s", FW_File_name);
    int version = GetImageVersion(FW_File_name);
    closedir(dir);
    if (version == -1) {
        // The file stays and is looked at again at the next round.
        FW_File_name[0] = '\0';
        return 0;
    }
    ImageVersion = static_cast<uint32_t>(version);
    syslog(LOG_DEBUG, "CheckForUpdateFile: image version 0x%X", ImageVersion);
    return 1;
}

bool IsInstallAction(int action) { return action == kInstallApplication || action == kInstallBootLoader; }

T7734FrameRequest ImageLineRequest(uint8_t address, uint16_t lineNumber, const char* chars, size_t n) {
    uint8_t data[kMaxFrameData];
    if (n > static_cast<size_t>(kMaxImageLineChars)) n = kMaxImageLineChars;
    PutLE16(data, lineNumber);
    data[2] = kImageLineFlag;
    std::memcpy(data + kImageLineHeader, chars, n);
    return MakeRequest(LoaderOp::ImageLine, data, kImageLineHeader + n, address);
}
