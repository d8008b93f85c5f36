#include "config/option_values.h"

#include <cctype>
#include <cstring>
#include <strings.h>

namespace qarvel {

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
