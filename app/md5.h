// The MD5 digest (RFC 1321), computed here rather than taken from a
// cryptographic library: the daemon needs it once per start, for the
// fingerprint of its own executable, and the reader's flash has no room to
// spare for a library of megabytes that would serve nothing else.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kMd5DigestSize = 16;

struct Md5Context {
    uint32_t state[4];
    uint64_t length;      // bytes taken so far
    uint8_t pending[64];  // the start of a block not yet complete
};

void Md5Begin(Md5Context* ctx);
void Md5Update(Md5Context* ctx, const void* data, size_t size);
// Pads the message, writes the digest; the context must begin anew before
// it takes another message.
void Md5End(Md5Context* ctx, uint8_t digest[kMd5DigestSize]);
