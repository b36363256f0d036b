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

std::string Hex(const uint8_t digest[16]) {
    char text[33];
    for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
    return text;
}

struct DigestCase {
    std::string content;
    const char* md5;
};

TEST(Md5, DigestsOfTheReferenceTextsAndOfLengthsAroundTheBlockEdges) {
    const DigestCase cases[] = {
        // The test suite of RFC 1321.
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // Padding that just fits the last block, that needs one more, a
        // whole block, and reads of 512 bytes that end inside a block.
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
        {std::string(1300, 'a'), "316f2cf81e2cc71ac9e636db72e2a105"},
    };
    for (const DigestCase& c : cases) {
        std::string path = WriteTemp(c.content);
        uint8_t digest[16];
        ASSERT_TRUE(Md5OfFile(path.c_str(), digest)) << c.content.size();
        EXPECT_EQ(Hex(digest), c.md5) << c.content.size() << " bytes: " << c.content.substr(0, 20);
        unlink(path.c_str());
    }
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
