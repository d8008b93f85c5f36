// Streaming base64 (RFC 2045). The encoder collects bytes in threes and, with a line length
// above 0, ends every line of that many characters with "\r\n"; the decoder skips every
// character outside the alphabet ("=", CR, LF, spaces), so pieces joined together decode as one.
#pragma once

#include <cstddef>

#include "base/byte_sink.h"
#include "base/string.h"

namespace qarvel {

class Base64Encoder {
public:
    Base64Encoder(ByteSink& out, int lineLength, char char63 = '/');
    void put(const void* bytes, size_t count);
    // Writes the last partial group with "=" padding and ends the last line.
    void finish();

private:
    void flushOut();
    char* encodeGroup(const unsigned char* in, char* out) const;
    void emitGroup(const unsigned char* group);

    ByteSink& out_;
    int lineLength_;
    int column_ = 0;
    int pending_ = 0;
    unsigned char bytes_[3] = {};
    char alphabet_[65];
    char buffer_[65536];
    size_t used_ = 0;
};

class Base64Decoder {
public:
    explicit Base64Decoder(ByteSink& out, char char63 = '/');
    void put(const char* text, size_t count);
    // A partial group: one or two values give one byte, three give two.
    void finish();

private:
    ByteSink& out_;
    signed char values_[256];
    bool standard_ = true;
    unsigned pending_ = 0;
    unsigned bits_ = 0;
    char buffer_[65536];
    size_t used_ = 0;
};

// The fast path of the decoders: decodes whole groups of four characters of the standard
// alphabet, and the line ends between them, from [in, end) into `out`, which must have room for
// 3 bytes per 4 characters and 1 more. Stops in front of the first group that holds any other
// character ("=", a blank, a line end inside a group) or fewer than 4 characters before `end`.
// Returns the bytes written and moves `in` past what was used.
size_t decodeBase64Lines(const unsigned char*& in, const unsigned char* end, char* out);

// One-shot helpers (line length 0 unless given).
String base64Encode(const void* bytes, size_t count, int lineLength = 0);
String base64Decode(const char* text, size_t count);
inline String base64Encode(const String& text) { return base64Encode(text.c_str(), text.length()); }
inline String base64Decode(const String& text) { return base64Decode(text.c_str(), text.length()); }

}  // namespace qarvel
