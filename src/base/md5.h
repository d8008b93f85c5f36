// MD5 (RFC 1321), HMAC-MD5 (RFC 2104) and the lower-case hexadecimal form of a digest.
// APOP, CRAM-MD5 and HTTP Digest authentication use them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/string.h"

namespace qarvel {

class Md5Context {
public:
    Md5Context() { init(); }
    void init();
    void update(const void* bytes, size_t count);
    // Writes the 16-byte digest and clears the context.
    void final(unsigned char digest[16]);

private:
    void transform(const unsigned char block[64]);
    uint32_t state_[4];
    uint64_t bitCount_;
    unsigned char buffer_[64];
};

void md5(const void* bytes, size_t count, unsigned char digest[16]);
void hmacMd5(const void* text, size_t textLength, const void* key, size_t keyLength,
             unsigned char digest[16]);
// 32 lower-case hexadecimal digits.
String digestToHex(const unsigned char digest[16]);
// The MD5 of the text's bytes in hexadecimal.
String md5Hex(const String& text);

}  // namespace qarvel
