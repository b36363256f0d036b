#include "platform/paths.h"

#include <sys/stat.h>

#include <cstring>

char LogDir[16] = "/tmp";
char LogFile[kLogFilePathSize] = "";

void ChooseLogDir() {
    struct stat st;
    std::strcpy(LogDir, stat("/home", &st) == 0 ? "/home" : "/tmp");
}
