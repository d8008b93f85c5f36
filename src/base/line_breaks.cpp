// Line breaks in text bound for a header line or a protocol command.
#include "base/line_breaks.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace qarvel {

bool holdsLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

void blankLineBreaksInPlace(std::string& text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
}

String blankLineBreaks(std::string_view text) {
    if (!holdsLineBreak(text)) return String(text);
    std::string copy(text);
    blankLineBreaksInPlace(copy);
    return String(copy);
}

namespace {

// One conversion through snprintf, appended to out; a '*' width or precision (or both)
// comes first among the arguments.
template <class T>
void appendStarred(std::string& out, const std::string& conversion, int stars, const int* starValues,
                   T value) {
    auto format = [&](char* buffer, size_t size) {
        const char* f = conversion.c_str();
        return stars == 0   ? std::snprintf(buffer, size, f, value)
               : stars == 1 ? std::snprintf(buffer, size, f, starValues[0], value)
                            : std::snprintf(buffer, size, f, starValues[0], starValues[1], value);
    };
    char small[128];
    int n = format(small, sizeof small);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        out.append(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    format(big.data(), big.size());
    out.append(big.data(), static_cast<size_t>(n));
}

}  // namespace

bool formatOneLinePerFormat(std::string& out, const char* format, va_list args) {
    va_list ap;
    va_copy(ap, args);
    const char* p = format;
    bool ok = true;
    while (*p && ok) {
        const char* percent = std::strchr(p, '%');
        if (!percent) {
            out.append(p);
            break;
        }
        out.append(p, static_cast<size_t>(percent - p));
        const char* q = percent + 1;
        if (*q == '%') {
            out += '%';
            p = q + 1;
            continue;
        }
        int stars = 0;
        int starValues[2] = {0, 0};
        while (*q && std::strchr("-+ #0'", *q)) ++q;
        if (*q == '*') {
            starValues[stars++] = va_arg(ap, int);
            ++q;
        } else {
            while (*q >= '0' && *q <= '9') ++q;
        }
        if (*q == '.') {
            ++q;
            if (*q == '*') {
                starValues[stars++] = va_arg(ap, int);
                ++q;
            } else {
                while (*q >= '0' && *q <= '9') ++q;
            }
        }
        // Length modifier: hh h l ll j z t L.
        char length = 0;
        if (*q == 'h' || *q == 'l') {
            length = *q++;
            if (*q == length) {
                length = length == 'h' ? 'H' : 'q';  // hh, ll
                ++q;
            }
        } else if (*q && std::strchr("jztL", *q)) {
            length = *q++;
        }
        const char conversion = *q;
        if (!conversion) {
            ok = false;
            break;
        }
        const std::string directive(percent, static_cast<size_t>(q - percent) + 1);
        switch (conversion) {
        case 'd': case 'i':
            if (length == 'l') appendStarred(out, directive, stars, starValues, va_arg(ap, long));
            else if (length == 'q') appendStarred(out, directive, stars, starValues, va_arg(ap, long long));
            else if (length == 'j') appendStarred(out, directive, stars, starValues, va_arg(ap, intmax_t));
            else if (length == 'z') appendStarred(out, directive, stars, starValues, va_arg(ap, ptrdiff_t));
            else if (length == 't') appendStarred(out, directive, stars, starValues, va_arg(ap, ptrdiff_t));
            else appendStarred(out, directive, stars, starValues, va_arg(ap, int));
            break;
        case 'u': case 'o': case 'x': case 'X':
            if (length == 'l') appendStarred(out, directive, stars, starValues, va_arg(ap, unsigned long));
            else if (length == 'q') appendStarred(out, directive, stars, starValues, va_arg(ap, unsigned long long));
            else if (length == 'j') appendStarred(out, directive, stars, starValues, va_arg(ap, uintmax_t));
            else if (length == 'z') appendStarred(out, directive, stars, starValues, va_arg(ap, size_t));
            else if (length == 't') appendStarred(out, directive, stars, starValues, va_arg(ap, size_t));
            else appendStarred(out, directive, stars, starValues, va_arg(ap, unsigned));
            break;
        case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
            if (length == 'L') appendStarred(out, directive, stars, starValues, va_arg(ap, long double));
            else appendStarred(out, directive, stars, starValues, va_arg(ap, double));
            break;
        case 'p':
            appendStarred(out, directive, stars, starValues, va_arg(ap, void*));
            break;
        case 'c':
        case 's': {
            if (length) {  // wide characters have no place in a command
                ok = false;
                break;
            }
            // The arguments are where text from outside comes in: their line breaks go.
            size_t before = out.size();
            if (conversion == 'c') appendStarred(out, directive, stars, starValues, va_arg(ap, int));
            else {
                const char* text = va_arg(ap, const char*);
                appendStarred(out, directive, stars, starValues, text ? text : "(null)");
            }
            for (size_t k = before; k < out.size(); ++k)
                if (out[k] == '\r' || out[k] == '\n') out[k] = ' ';
            break;
        }
        default:
            ok = false;  // %n and anything unknown
            break;
        }
        p = q + 1;
    }
    va_end(ap);
    return ok;
}

std::string headerBlockFault(std::string_view block) {
    bool seenField = false;
    size_t pos = 0;
    int lineNumber = 0;
    while (pos < block.size()) {
        size_t end = block.find_first_of("\r\n", pos);
        std::string_view line = block.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        ++lineNumber;
        if (end == std::string_view::npos) pos = block.size();
        else pos = end + ((block[end] == '\r' && end + 1 < block.size() && block[end + 1] == '\n') ? 2 : 1);
        const std::string where = "line " + std::to_string(lineNumber);
        if (line.empty()) return where + " is empty (it would end the header)";
        if (line[0] == ' ' || line[0] == '\t') {
            if (!seenField) return where + " continues a header field that does not exist";
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return where + " is not a header field (Name: value)";
        for (size_t k = 0; k < colon; ++k) {
            unsigned char c = static_cast<unsigned char>(line[k]);
            if (c <= 32 || c >= 127) return where + " has a header name with a blank or a control character";
        }
        seenField = true;
    }
    return std::string();
}

}  // namespace qarvel
