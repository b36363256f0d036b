#include "platform/paths.h"

#include <sys/stat.h>

#include <cstdio>

char LogDir[kLogFilePathSize] = "/tmp";
char LogFile[kLogFilePathSize] = "";

void ChooseLogDir(const char* configured) {
    struct stat st;
    const char* dir = configured;
    if (dir[0] == '\0') dir = stat("/home", &st) == 0 ? "/home" : "/tmp";
    std::snprintf(LogDir, sizeof LogDir, "%s", dir);
}
