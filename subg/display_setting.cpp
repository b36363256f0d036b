#include "subg/display_setting.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/clock.h"

std::atomic<uint8_t> DisplaySettings{0};

namespace {
time_t LastDisplaySettingCheck = 0;  // the refreshing thread's own
}

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

// A technician waits a second for the flag at most.
void RefreshDisplaySetting() {
    time_t now = time(nullptr);
    if (now == LastDisplaySettingCheck) return;
    LastDisplaySettingCheck = now;
    DisplaySettings = CheckFileExist(kDisplaySettingPath);
}
