// The shared text tests: prefixes and words without regard to case, blanks, value unquoting.
#include "base/text.h"

#include <cctype>

namespace qarvel {

namespace {

char lowered(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

void trimBlanks(String& s) {
    size_t n = s.length();
    while (n > 0 && s[n - 1] == ' ') --n;
    if (n != s.length()) s = String(s, 0, n);
}

} // namespace

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (lowered(text[i]) != lowered(prefix[i])) return false;
    return true;
}

size_t findNoCase(std::string_view text, std::string_view word) {
    for (size_t i = 0; i + word.size() <= text.size(); ++i)
        if (startsWithNoCase(text.substr(i), word)) return i;
    return std::string_view::npos;
}

bool endsWithNoCase(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && startsWithNoCase(text.substr(text.size() - tail.size()), tail);
}

const char* locateNoCase(const char* text, const char* word) {
    const std::string_view line(text);
    const size_t at = findNoCase(line, word);
    return at == std::string_view::npos ? nullptr : text + at;
}

std::string_view skipBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    return text;
}

std::string_view trimTrailingBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}


String unquoteValue(const char* value, int escapeMode) {
    String s(value ? value : "");
    trimBlanks(s);
    if (s.length() >= 2 && s[0] == '"' && s[s.length() - 1] == '"') {
        s = String(s, 1, s.length() - 2);
        trimBlanks(s);
    }
    if (escapeMode == kEscapesKept || s.find('\\') == String::npos) return s;
    String out;
    const char* p = s.c_str();
    const char* end = p + s.length();
    while (p < end) {
        if (*p != '\\' || p + 1 >= end) {
            out += *p++;
            continue;
        }
        const char next = p[1];
        p += 2;
        switch (next) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        default:
            if (escapeMode == kEscapesControl) out += '\\';
            out += next;
        }
    }
    return out;
}

} // namespace qarvel
