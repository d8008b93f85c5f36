// uuencode and uudecode: "begin 644 name" lines, data lines of at most 45 bytes, and the
// closing "`" and "end" lines. Dot-stuffing doubles (or drops) a leading "." for data that
// travels in an SMTP data phase.
#pragma once

#include <cstddef>

#include "base/byte_sink.h"
#include "base/string.h"

namespace qarvel {

class UuEncoder {
public:
    // Writes the begin line with the file part of name (after the last "/" or "\").
    UuEncoder(ByteSink& out, const String& name, bool dotStuffing = false);
    void encode(const void* bytes, size_t count);
    // Writes the last short line, then "`" and "end".
    void end();

private:
    void writeLine(const unsigned char* bytes, size_t count);

    ByteSink& out_;
    bool dotStuffing_;
    unsigned char line_[45];
    size_t pending_ = 0;
};

class UuDecoder {
public:
    // Reads "begin %d %255[^\r\n]" from the begin line.
    UuDecoder(const String& beginLine, ByteSink& out, bool dotStuffing = false);
    // Decodes one data line (with or without its line end).
    void decodeLine(const char* line, size_t length);
    int mode() const { return mode_; }
    const String& fileName() const { return fileName_; }

private:
    ByteSink& out_;
    bool dotStuffing_;
    int mode_ = 0;
    String fileName_;
};

// True when the line begins a uuencoded block ("begin " then a mode number).
bool isUuBeginLine(const char* line, size_t length);

}  // namespace qarvel
