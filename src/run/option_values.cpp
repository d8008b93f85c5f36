#include "run/option_values.h"

#include <cctype>
#include <cstring>
#include <strings.h>

namespace qarvel {

namespace {

void trimBlanks(String& s) {
    size_t n = s.length();
    while (n > 0 && s[n - 1] == ' ') --n;
    if (n != s.length()) s = String(s, 0, n);
}

} // namespace

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

int readNumber(const char* text) {
    if (!text) return 0;
    const char* p = text;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long n = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        if (n < 10000000000LL) n = n * 10 + (*p - '0');
        ++p;
    }
    if (n > 2147483647LL) n = negative ? 2147483648LL : 2147483647LL;
    return static_cast<int>(negative ? -n : n);
}

String withDisconnectSwitch(const String& value) {
    String lower = value;
    lower.toLower();
    if (lower.find("/disconnect") != String::npos) return value;
    return value + " /disconnect";
}

} // namespace qarvel
