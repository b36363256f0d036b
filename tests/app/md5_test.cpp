#include "app/md5sum.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string WriteTemp(const std::string& content) {
    char path[] = "/tmp/tarnel-md5-XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
    return path;
}

TEST(Md5, DigestOfKnownText) {
    // md5("abc") = 900150983cd24fb0d6963f7d28e17f72
    std::string path = WriteTemp("abc");
    uint8_t digest[16];
    ASSERT_TRUE(Md5OfFile(path.c_str(), digest));
    EXPECT_EQ(digest[0], 0x90);
    EXPECT_EQ(digest[15], 0x72);
    unlink(path.c_str());
}

TEST(Md5, ChecksumKeepsBytesFourteenAndFifteenOfALongFile) {
    // A file over several 512-byte blocks: md5 of 1300 'a' characters.
    std::string path = WriteTemp(std::string(1300, 'a'));
    uint8_t digest[16];
    ASSERT_TRUE(Md5OfFile(path.c_str(), digest));
    CalcMD5(path.c_str());
    EXPECT_EQ(TarnelChkSum.High, digest[14]);
    EXPECT_EQ(TarnelChkSum.Low, digest[15]);
    unlink(path.c_str());
}

TEST(Md5, AMissingFileLeavesTheChecksumZero) {
    CalcMD5("/nonexistent/Tarnel");
    EXPECT_EQ(TarnelChkSum.High, 0);
    EXPECT_EQ(TarnelChkSum.Low, 0);
}

}  // namespace
