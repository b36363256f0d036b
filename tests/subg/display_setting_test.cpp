#include "subg/display_setting.h"

#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

namespace {

std::string MakeFileAged(long ageSeconds) {
    char path[] = "/tmp/tarnel-display-XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    timeval times[2];
    times[0].tv_sec = times[1].tv_sec = time(nullptr) - ageSeconds;
    times[0].tv_usec = times[1].tv_usec = 0;
    EXPECT_EQ(utimes(path, times), 0);
    return path;
}

TEST(DisplaySetting, AFreshFileCounts) {
    std::string path = MakeFileAged(60);
    EXPECT_EQ(CheckFileExist(path.c_str()), 1);
    EXPECT_EQ(access(path.c_str(), F_OK), 0);
    unlink(path.c_str());
}

TEST(DisplaySetting, AFileElevenDaysOldIsDeleted) {
    std::string path = MakeFileAged(11 * 86400);
    EXPECT_EQ(CheckFileExist(path.c_str()), 0);
    EXPECT_EQ(access(path.c_str(), F_OK), -1);
}

TEST(DisplaySetting, AFileFromTheFutureIsDeleted) {
    std::string path = MakeFileAged(-3600);
    EXPECT_EQ(CheckFileExist(path.c_str()), 0);
    EXPECT_EQ(access(path.c_str(), F_OK), -1);
}

TEST(DisplaySetting, AMissingFileDoesNotCount) { EXPECT_EQ(CheckFileExist("/nonexistent/display_setting"), 0); }

}  // namespace
