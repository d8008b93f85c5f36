// uuencode and uudecode of one file's bytes.
#include "base/uucode.h"
#include "base/paths.h"

#include <cstdio>
#include <cstring>

namespace qarvel {

namespace {

char uuChar(unsigned value) { return value == 0 ? '`' : static_cast<char>(value + 32); }

}  // namespace

UuEncoder::UuEncoder(ByteSink& out, const String& name, bool dotStuffing)
    : out_(out), dotStuffing_(dotStuffing) {
    String file = outsideFileName(name);
    out_.write("begin 644 ", 10);
    out_.write(file.c_str(), file.length());
    out_.write("\n", 1);
}

void UuEncoder::writeLine(const unsigned char* bytes, size_t count) {
    char text[64 + 4];
    size_t n = 0;
    char lengthChar = static_cast<char>(count + 32);
    if (dotStuffing_ && lengthChar == '.') text[n++] = '.';
    text[n++] = lengthChar;
    for (size_t i = 0; i < count; i += 3) {
        unsigned char a = bytes[i];
        unsigned char b = i + 1 < count ? bytes[i + 1] : 0;
        unsigned char c = i + 2 < count ? bytes[i + 2] : 0;
        text[n++] = uuChar(a >> 2);
        text[n++] = uuChar(((a & 3) << 4) | (b >> 4));
        text[n++] = uuChar(((b & 15) << 2) | (c >> 6));
        text[n++] = uuChar(c & 63);
    }
    text[n++] = '\n';
    out_.write(text, n);
}

void UuEncoder::encode(const void* data, size_t count) {
    const unsigned char* in = static_cast<const unsigned char*>(data);
    while (count > 0) {
        size_t take = 45 - pending_ < count ? 45 - pending_ : count;
        std::memcpy(line_ + pending_, in, take);
        pending_ += take;
        in += take;
        count -= take;
        if (pending_ == 45) {
            writeLine(line_, 45);
            pending_ = 0;
        }
    }
}

void UuEncoder::end() {
    if (pending_ > 0) writeLine(line_, pending_);
    pending_ = 0;
    out_.write("`\nend\n", 6);
}

UuDecoder::UuDecoder(const String& beginLine, ByteSink& out, bool dotStuffing)
    : out_(out), dotStuffing_(dotStuffing) {
    char name[256] = {};
    int mode = 0;
    if (std::sscanf(beginLine.c_str(), "begin %d %255[^\r\n]", &mode, name) >= 1) mode_ = mode;
    fileName_ = name;
}

void UuDecoder::decodeLine(const char* line, size_t length) {
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
    if (dotStuffing_ && length > 0 && line[0] == '.') {
        ++line;
        --length;
    }
    if (length < 2) return;
    int count = (line[0] - 32) & 63;
    char bytes[64];
    size_t n = 0;
    for (size_t i = 1; count > 0 && i < length; i += 4) {
        unsigned v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = i + k < length ? static_cast<unsigned>((line[i + k] - 32) & 63) : 0;
        bytes[n++] = static_cast<char>(v[0] << 2 | v[1] >> 4);
        if (count >= 2) bytes[n++] = static_cast<char>(v[1] << 4 | v[2] >> 2);
        if (count >= 3) bytes[n++] = static_cast<char>(v[2] << 6 | v[3]);
        count -= 3;
    }
    out_.write(bytes, n);
}

bool isUuBeginLine(const char* line, size_t length) {
    return length > 7 && std::strncmp(line, "begin ", 6) == 0 && line[6] >= '0' && line[6] <= '7';
}

}  // namespace qarvel
