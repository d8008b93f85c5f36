// Quoted-printable encoding and decoding.
#include "base/quoted_printable.h"

#include <string>

namespace qarvel {

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

String quotedPrintableEncode(const char* text, size_t length, bool headerMode, bool stopAtAngle,
                             String* rest, bool crlf) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(length / 76 + 3 * length + 16);
    if (rest) *rest = String();
    int column = 1;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (stopAtAngle && c == '<') {
            if (rest) *rest = String(text + i, length - i);
            break;
        }
        char next = i + 1 < length ? text[i + 1] : '\0';
        bool lineEndCr = c == '\r' && (!crlf || next == '\n');
        bool literal = c < 127 && !(c == '.' && column == 1) &&
                       !((c == ' ' || c == '\t') && (next == '\r' || next == '\n')) &&
                       (c >= 32 || lineEndCr || c == '\n' || c == '\t') && c != '=' &&
                       !(headerMode && (c == ' ' || c == '\t' || c == '?' || c == '_'));
        if (literal) {
            if (c == '\r') {
                out += '\r';
                continue;
            }
            if (c == '\n') {
                if (crlf && (i == 0 || text[i - 1] != '\r')) out += '\r';
                out += '\n';
                column = 1;
                continue;
            }
            if (!headerMode && column >= 73) {
                out += "=\r\n";
                column = 1;
                if (c == '.') {  // a full stop now stands at the start of a line
                    out += "=2E";
                    column += 3;
                    continue;
                }
            }
            out += static_cast<char>(c);
            column += 1;
        } else {
            if (!headerMode && column > 73) {
                out += "=\r\n";
                column = 1;
            }
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
            column += 3;
        }
    }
    return String(out);
}

size_t quotedPrintableDecode(char* buffer, size_t length) {
    size_t in = 0, out = 0;
    while (in < length) {
        char c = buffer[in++];
        if (c != '=') {
            buffer[out++] = c;
            continue;
        }
        if (in >= length) break;  // a lone "=" at the end is a soft break remnant: dropped
        int high = hexDigitValue(buffer[in++]);
        if (high < 0) high = 0;
        if (in >= length) {
            buffer[out++] = static_cast<char>(high);
            break;
        }
        if (buffer[in] == '=') {
            buffer[out++] = static_cast<char>(high);
            continue;  // that "=" starts the next escape
        }
        int low = hexDigitValue(buffer[in]);
        ++in;
        buffer[out++] = static_cast<char>(low >= 0 ? high * 16 + low : high * 16);
    }
    buffer[out] = '\0';
    return out;
}

}  // namespace qarvel
