#include "subgconfig/display_setting.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/clock.h"

int CheckFileExist(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0) return 0;
    time_t age = NowSeconds() - st.st_mtime;
    if (age < 0 || age > kDisplaySettingMaxAgeSeconds) {
        unlink(path);
        return 0;
    }
    return 1;
}
