// Transfer encoders for the MIME composer.
#include "send/mime_encoders.h"

#include <algorithm>
#include <cstdio>

namespace qarvel {

namespace {

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kHex[] = "0123456789ABCDEF";

inline char uuChar(unsigned value) { return value == 0 ? '`' : static_cast<char>(value + 32); }

} // namespace

void encodeBase64Lines76(const char* data, size_t length, std::string& out) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(data);
    size_t start = out.size();
    out.resize(start + (length + 2) / 3 * 4 + (length + 56) / 57 * 2);
    char* o = out.data() + start;
    size_t i = 0;
    // Whole lines: 57 bytes in, 76 characters and CR LF out.
    while (length - i >= 57) {
        for (int g = 0; g < 19; ++g, i += 3) {
            unsigned v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
            o[0] = kBase64Alphabet[v >> 18];
            o[1] = kBase64Alphabet[(v >> 12) & 63];
            o[2] = kBase64Alphabet[(v >> 6) & 63];
            o[3] = kBase64Alphabet[v & 63];
            o += 4;
        }
        *o++ = '\r';
        *o++ = '\n';
    }
    if (i < length) {
        for (; length - i >= 3; i += 3) {
            unsigned v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
            o[0] = kBase64Alphabet[v >> 18];
            o[1] = kBase64Alphabet[(v >> 12) & 63];
            o[2] = kBase64Alphabet[(v >> 6) & 63];
            o[3] = kBase64Alphabet[v & 63];
            o += 4;
        }
        if (i < length) {
            unsigned v = in[i] << 16;
            if (i + 1 < length) v |= in[i + 1] << 8;
            o[0] = kBase64Alphabet[v >> 18];
            o[1] = kBase64Alphabet[(v >> 12) & 63];
            o[2] = i + 1 < length ? kBase64Alphabet[(v >> 6) & 63] : '=';
            o[3] = '=';
            o += 4;
        }
        *o++ = '\r';
        *o++ = '\n';
    }
    out.resize(static_cast<size_t>(o - out.data()));
}

std::string encodeQuotedPrintableCrlf(const char* data, size_t length) {
    std::string out;
    out.reserve(length / 76 + 3 * length + 16);
    int column = 1;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(data[i]);
        bool beforeLineEnd = i + 1 < length && (data[i + 1] == '\r' || data[i + 1] == '\n');
        if (c == '\n') {
            if (out.empty() || out.back() != '\r') out += '\r';
            out += '\n';
            column = 1;
            continue;
        }
        if (c == '\r') {
            // A CR of a CR LF pair is the line end's; a lone CR is encoded.
            if (i + 1 < length && data[i + 1] == '\n') {
                out += '\r';
                continue;
            }
        }
        bool literal = c < 127 && !(c == '.' && column == 1) &&
                       !((c == ' ' || c == '\t') && beforeLineEnd) &&
                       (c >= 32 || c == '\t') && c != '=';
        if (literal) {
            if (column >= 73) {
                out += "=\r\n";
                column = 1;
                if (c == '.') {  // a full stop that now begins a line is escaped
                    out += "=2E";
                    column += 3;
                    continue;
                }
            }
            out += static_cast<char>(c);
            column += 1;
        } else {
            if (column > 73) {
                out += "=\r\n";
                column = 1;
            }
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
            column += 3;
        }
    }
    // A blank at the very end of the text is escaped as well: it would be trailing white
    // space on the last line.
    if (!out.empty() && (out.back() == ' ' || out.back() == '\t')) {
        char blank = out.back();
        out.pop_back();
        out += '=';
        out += kHex[static_cast<unsigned char>(blank) >> 4];
        out += kHex[blank & 15];
    }
    return out;
}

std::string uuencodeBeginLine(const std::string& name) { return "begin 644 " + name + "\r\n"; }

void uuencodeLinesCrlf(const char* data, size_t length, std::string& out) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(data);
    for (size_t i = 0; i < length; i += 45) {
        size_t n = std::min<size_t>(45, length - i);
        out += uuChar(static_cast<unsigned>(n));
        for (size_t g = 0; g < n; g += 3) {
            unsigned b0 = in[i + g];
            unsigned b1 = g + 1 < n ? in[i + g + 1] : 0;
            unsigned b2 = g + 2 < n ? in[i + g + 2] : 0;
            out += uuChar(b0 >> 2);
            out += uuChar(((b0 << 4) | (b1 >> 4)) & 63);
            out += uuChar(((b1 << 2) | (b2 >> 6)) & 63);
            out += uuChar(b2 & 63);
        }
        out += "\r\n";
    }
}

std::string uuencodeEndLines() { return "`\r\nend\r\n"; }

std::string encodeWordText(const std::string& text, const char* charset) {
    std::string out = "=?";
    out += charset;
    out += "?Q?";
    for (unsigned char c : text) {
        bool literal = c > 32 && c < 127 && c != '=' && c != '?' && c != '_' && c != '"' && c != '\\';
        if (literal) {
            out += static_cast<char>(c);
        } else {
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    out += "?=";
    return out;
}

} // namespace qarvel
