#include "app/md5.h"

#include <cstring>

#include "platform/byte_order.h"

namespace {

constexpr size_t kBlockSize = 64;
constexpr size_t kLengthOffset = kBlockSize - 8;  // the message's bit count closes the last block

// The integer part of 2^32 * |sin(i + 1)|.
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Left rotations of each round, four steps per round repeating.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void TakeBlock(uint32_t state[4], const uint8_t* block) {
    uint32_t word[16];
    for (int i = 0; i < 16; ++i) word[i] = GetLE32(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t mix;
        int index;
        switch (round) {
            case 0:
                mix = (b & c) | (~b & d);
                index = i;
                break;
            case 1:
                mix = (d & b) | (~d & c);
                index = (5 * i + 1) % 16;
                break;
            case 2:
                mix = b ^ c ^ d;
                index = (3 * i + 5) % 16;
                break;
            default:
                mix = c ^ (b | ~d);
                index = (7 * i) % 16;
                break;
        }
        const uint32_t sum = a + mix + kSine[i] + word[index];
        a = d;
        d = c;
        c = b;
        b += RotateLeft(sum, kShift[round][i % 4]);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void Md5Begin(Md5Context* ctx) {
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xefcdab89;
    ctx->state[2] = 0x98badcfe;
    ctx->state[3] = 0x10325476;
    ctx->length = 0;
}

void Md5Update(Md5Context* ctx, const void* data, size_t size) {
    const auto* in = static_cast<const uint8_t*>(data);
    size_t held = ctx->length % kBlockSize;
    ctx->length += size;
    if (held > 0) {
        const size_t taken = size < kBlockSize - held ? size : kBlockSize - held;
        std::memcpy(ctx->pending + held, in, taken);
        in += taken;
        size -= taken;
        if (held + taken < kBlockSize) return;
        TakeBlock(ctx->state, ctx->pending);
    }
    for (; size >= kBlockSize; in += kBlockSize, size -= kBlockSize) TakeBlock(ctx->state, in);
    std::memcpy(ctx->pending, in, size);
}

void Md5End(Md5Context* ctx, uint8_t digest[kMd5DigestSize]) {
    const uint64_t bits = ctx->length * 8;
    // A one bit, zeros up to the length field of this block or the next.
    static const uint8_t kPadding[kBlockSize] = {0x80};
    const size_t held = ctx->length % kBlockSize;
    Md5Update(ctx, kPadding, held < kLengthOffset ? kLengthOffset - held : kBlockSize + kLengthOffset - held);
    uint8_t length[8];
    PutLE32(length, static_cast<uint32_t>(bits));
    PutLE32(length + 4, static_cast<uint32_t>(bits >> 32));
    Md5Update(ctx, length, sizeof length);
    for (int i = 0; i < 4; ++i) PutLE32(digest + 4 * i, ctx->state[i]);
}
