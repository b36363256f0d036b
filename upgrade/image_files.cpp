#include "upgrade/image_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include "platform/log.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "platform/atomic_file.h"
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

struct ImagePrefix {
    const char* prefix;
    ImageAction action;
};

// Tested in this order against the start of a name.
const ImagePrefix kImagePrefixes[] = {
    {"RD2_A_01_", kInstallApplication},
    {"DE_RD2_A_01_", kDeactivateApplication},
    {"RD2_L_01_", kInstallBootLoader},
    {"DE_RD2_L_01_", kDeactivateBootLoader},
};

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// The leading decimal digits of a two-character pair; a pair that does not
// start with a digit counts 0.
int PairValue(const char* pair) {
    int value = 0;
    for (int i = 0; i < 2 && IsDigit(pair[i]); ++i) value = value * 10 + (pair[i] - '0');
    return value;
}

const ImagePrefix* PrefixOf(const char* name) {
    for (const auto& entry : kImagePrefixes) {
        if (std::strncmp(name, entry.prefix, std::strlen(entry.prefix)) == 0) return &entry;
    }
    return nullptr;
}

// The eight characters after the prefix, all decimal digits.
bool VersionReadable(const char* afterPrefix) {
    for (size_t i = 0; i < kVersionChars; ++i) {
        if (!IsDigit(afterPrefix[i])) return false;
    }
    return true;
}

// Nothing, or one extension. A longer tail is no image: a copy still under
// way (".hex.filepart") or a name set aside by an older release
// (".hex.failed").
bool IsImageTail(const char* tail) {
    if (*tail == '\0') return true;
    if (*tail++ != '.' || *tail == '\0') return false;
    for (; *tail != '\0'; ++tail) {
        if (!std::isalnum(static_cast<unsigned char>(*tail))) return false;
    }
    return true;
}

// A directory or a FIFO of an image's name would stall the upgrade.
bool IsRegularFile(const char* name) {
    struct stat st;
    return stat(name, &st) == 0 && S_ISREG(st.st_mode);
}

// Set aside once, so that it is not looked at again every round and the
// search goes on to the images behind it.
void RejectUnreadableVersion(const char* name) {
    if (SetImageAside(name, kRejectedImageMark)) {
        LogLine(LOG_ERR, "CheckForUpdateFile: cannot read the version of %s, renamed to %s%s", name, kRejectedImageMark,
               name);
    } else {
        LogLine(LOG_ERR, "CheckForUpdateFile: cannot rename %s (%s)", name, strerror(errno));
    }
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
        LogLine(LOG_ERR, "GetImageVersion: file name too short");
        return -1;
    }
    const char* prefix = FindVersionPrefix(name);
    if (!prefix) {
        LogLine(LOG_ERR, "GetImageVersion: file name %s does not contain neither %s, %s nor %s", name, kAppImagePrefix,
               kLoaderImagePrefix, kHostImagePrefix);
        return -1;
    }
    const char* digits = prefix + kPrefixLen;
    // A name that ends within the eight characters has no version to read.
    if (std::strlen(digits) < kVersionChars) {
        LogLine(LOG_ERR, "GetImageVersion: could not parse image version %s (%s)", digits, "fewer than 8 characters");
        return -1;
    }
    int n[4];
    for (int i = 0; i < 4; ++i) n[i] = PairValue(digits + 2 * i);
    LogLine(LOG_DEBUG, "GetImageVersion: numbers = %d.%d.%d.%d", n[0], n[1], n[2], n[3]);
    return (n[0] << 24) + ((n[1] << 16) & 0xFF0000) + ((n[2] << 8) & 0xFFFF) + n[3];
}

ImageAction ImageActionOfName(const char* name) {
    const ImagePrefix* entry = PrefixOf(name);
    if (!entry) return kNoImageAction;
    const char* version = name + std::strlen(entry->prefix);
    if (!VersionReadable(version) || !IsImageTail(version + kVersionChars)) return kNoImageAction;
    return entry->action;
}

bool SetImageAside(const char* name, const char* mark) {
    return RenameDurably(name, (std::string(mark) + name).c_str());
}

int CheckForUpdateFile() {
    FW_File_name[0] = '\0';
    DIR* dir = opendir(kImageDir);
    if (!dir) {
        LogLine(LOG_ERR, "CheckForUpdateFile: Failed to open directory %s", kImageDir);
        return 0;
    }
    ImgAction = kNoImageAction;
    // The whole listing, so that every name without a version is set aside
    // at once, wherever it is listed; the first image listed is taken.
    for (const dirent* entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
        const char* name = entry->d_name;
        const ImagePrefix* prefix = PrefixOf(name);
        if (!prefix || !IsRegularFile(name)) continue;
        if (!VersionReadable(name + std::strlen(prefix->prefix))) {
            RejectUnreadableVersion(name);
        } else if (ImgAction == kNoImageAction) {
            ImgAction = ImageActionOfName(name);
            if (ImgAction != kNoImageAction) std::snprintf(FW_File_name, sizeof(FW_File_name), "%s", name);
        }
    }
    closedir(dir);
    if (ImgAction == kNoImageAction) return 0;
    LogLine(LOG_DEBUG, "CheckForUpdateFile: found file %s", FW_File_name);
    // An image's name always carries a version.
    ImageVersion = static_cast<uint32_t>(GetImageVersion(FW_File_name));
    LogLine(LOG_DEBUG, "CheckForUpdateFile: image version 0x%X", ImageVersion);
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
