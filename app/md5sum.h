// The MD5 fingerprint of the daemon's own executable.
#pragma once

#include <cstdint>

struct ChecksumSt {
    uint8_t High;
    uint8_t Low;
};

// Bytes 14 and 15 of the executable's MD5 digest, reported to the RTC.
extern ChecksumSt TarnelChkSum;

// Digest of the file at path; false if it cannot be opened.
bool Md5OfFile(const char* path, uint8_t digest[16]);

// Fingerprints path into TarnelChkSum; leaves it unchanged if the file
// cannot be opened.
void CalcMD5(const char* path);
