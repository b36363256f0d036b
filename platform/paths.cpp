#include "platform/paths.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <cstdint>
#include <cstdio>

char LogDir[kLogFilePathSize] = "/tmp";
char LogFile[kLogFilePathSize] = "";

void ChooseLogDir(const char* configured) {
    struct stat st;
    const char* dir = configured;
    if (dir[0] == '\0') dir = stat("/home", &st) == 0 ? "/home" : "/tmp";
    std::snprintf(LogDir, sizeof LogDir, "%s", dir);
}

bool LogDirIsInRam() {
    struct statfs fs;
    if (statfs(LogDir, &fs) != 0) return false;
    // The magic numbers are 32 bits; f_type is a signed word of either width.
    const uint32_t type = static_cast<uint32_t>(fs.f_type);
    return type == TMPFS_MAGIC || type == RAMFS_MAGIC;
}
