// MD5, HMAC-MD5 and the hexadecimal form of a digest.
#include "base/md5.h"

#include <cstring>

namespace qarvel {

namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

void Md5Context::init() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    bitCount_ = 0;
}

void Md5Context::transform(const unsigned char block[64]) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 |
               uint32_t(block[i * 4 + 2]) << 16 | uint32_t(block[i * 4 + 3]) << 24;
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) & 15;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) & 15;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) & 15;
        }
        uint32_t next = d;
        d = c;
        c = b;
        b = b + rotl(a + f + kSine[i] + m[g], kShift[i]);
        a = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5Context::update(const void* bytes, size_t count) {
    const unsigned char* in = static_cast<const unsigned char*>(bytes);
    size_t used = (bitCount_ / 8) % 64;
    bitCount_ += uint64_t(count) * 8;
    if (used) {
        size_t room = 64 - used;
        if (count < room) {
            std::memcpy(buffer_ + used, in, count);
            return;
        }
        std::memcpy(buffer_ + used, in, room);
        transform(buffer_);
        in += room;
        count -= room;
    }
    for (; count >= 64; in += 64, count -= 64) transform(in);
    std::memcpy(buffer_, in, count);
}

void Md5Context::final(unsigned char digest[16]) {
    unsigned char length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(bitCount_ >> (8 * i));
    static const unsigned char kPadding[64] = {0x80};
    size_t used = (bitCount_ / 8) % 64;
    update(kPadding, used < 56 ? 56 - used : 120 - used);
    update(length, 8);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) digest[i * 4 + j] = static_cast<unsigned char>(state_[i] >> (8 * j));
    std::memset(state_, 0, sizeof state_);
    std::memset(buffer_, 0, sizeof buffer_);
    bitCount_ = 0;
}

void md5(const void* bytes, size_t count, unsigned char digest[16]) {
    Md5Context context;
    context.update(bytes, count);
    context.final(digest);
}

void hmacMd5(const void* text, size_t textLength, const void* key, size_t keyLength,
             unsigned char digest[16]) {
    unsigned char block[64] = {};
    if (keyLength > 64)
        md5(key, keyLength, block);
    else if (keyLength > 0)
        std::memcpy(block, key, keyLength);
    unsigned char inner[64], outer[64];
    for (int i = 0; i < 64; ++i) {
        inner[i] = block[i] ^ 0x36;
        outer[i] = block[i] ^ 0x5c;
    }
    unsigned char innerDigest[16];
    Md5Context context;
    context.update(inner, 64);
    context.update(text, textLength);
    context.final(innerDigest);
    context.init();
    context.update(outer, 64);
    context.update(innerDigest, 16);
    context.final(digest);
}

String digestToHex(const unsigned char digest[16]) {
    static const char kHex[] = "0123456789abcdef";
    char text[33];
    for (int i = 0; i < 16; ++i) {
        text[i * 2] = kHex[digest[i] >> 4];
        text[i * 2 + 1] = kHex[digest[i] & 15];
    }
    text[32] = '\0';
    return String(text);
}

String md5Hex(const String& text) {
    unsigned char digest[16];
    md5(text.c_str(), text.length(), digest);
    return digestToHex(digest);
}

}  // namespace qarvel
