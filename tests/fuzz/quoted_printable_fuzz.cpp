// Arbitrary bytes decoded in place as quoted-printable (never past the end, never longer), and
// encoded in both modes: every encoded line stays within 76 characters in body mode, and
// decoding the encoded text (soft breaks removed) gives the input again. In the form for a mail
// data stream the output holds no bare CR or LF, and decodes to the input with CR LF line ends.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/quoted_printable.h"

using namespace qarvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 18) return 0;
    std::vector<char> buffer(data, data + size);
    buffer.push_back('\0');
    size_t n = quotedPrintableDecode(buffer.data(), size);
    if (n > size || buffer[n] != '\0') __builtin_trap();

    // NUL bytes end the text in practice; encode up to the first one.
    const char* text = reinterpret_cast<const char*>(data);
    size_t length = strnlen(text, size);
    for (bool header : {false, true}) {
        String rest;
        String encoded = quotedPrintableEncode(text, length, header, false, &rest);
        std::string body(encoded.c_str(), encoded.length());
        if (!header) {
            size_t column = 0;
            for (char c : body) {
                if (c == '\n') column = 0;
                else if (c != '\r' && ++column > 76) __builtin_trap();
            }
            std::string joined;
            for (size_t i = 0; i < body.size(); ++i) {
                if (body[i] == '=' && body.compare(i, 3, "=\r\n") == 0) { i += 2; continue; }
                joined += body[i];
            }
            body = joined;
        }
        std::vector<char> round(body.begin(), body.end());
        round.push_back('\0');
        size_t m = quotedPrintableDecode(round.data(), body.size());
        if (m != length || std::memcmp(round.data(), text, length) != 0) __builtin_trap();
        String r2;
        quotedPrintableEncode(text, length, header, true, &r2);
    }

    std::string crlf = quotedPrintableEncode(text, length, false, false, nullptr, true).str();
    size_t column = 0;
    for (size_t i = 0; i < crlf.size(); ++i) {
        if (crlf[i] == '\r' && (i + 1 >= crlf.size() || crlf[i + 1] != '\n')) __builtin_trap();
        if (crlf[i] == '\n' && (i == 0 || crlf[i - 1] != '\r')) __builtin_trap();
        if (crlf[i] == '\n') column = 0;
        else if (crlf[i] != '\r' && ++column > 76) __builtin_trap();
    }
    std::string joined, expected;
    for (size_t i = 0; i < crlf.size(); ++i) {
        if (crlf.compare(i, 3, "=\r\n") == 0) { i += 2; continue; }
        joined += crlf[i];
    }
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) expected += '\r';
        expected += text[i];
    }
    std::vector<char> round(joined.begin(), joined.end());
    round.push_back('\0');
    size_t m = quotedPrintableDecode(round.data(), joined.size());
    if (std::string(round.data(), m) != expected) __builtin_trap();
    return 0;
}
