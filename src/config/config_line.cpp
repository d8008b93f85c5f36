#include "base/text.h"
#include "config/config_line.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <string>
#include <strings.h>

namespace qarvel {

bool lineStartsWithKey(const char* line, const char* key) {
    return strncasecmp(line, key, std::strlen(key)) == 0;
}

String lineValue(const char* line, size_t limit) {
    const char* p = line;
    while (*p && isSpace(*p)) ++p;
    while (*p && !isSpace(*p)) ++p;
    while (*p && isSpace(*p)) ++p;
    size_t n = 0;
    while (n < limit && p[n] && p[n] != '\r' && p[n] != '\n') ++n;
    return String(p, n);
}

void forEachConfigLine(const String& path, size_t maxLength,
                       const std::function<void(const char* line)>& onLine) {
    // Only maxLength characters of a line are kept; the rest is read past in small steps, so
    // a file without line ends costs no more memory than one line of the format.
    std::ifstream in(path.c_str(), std::ios::binary);
    std::string line;
    int c;
    while ((c = in.get()) != std::char_traits<char>::eof()) {
        if (c != '\n') {
            if (line.size() < maxLength) line += static_cast<char>(c);
            continue;
        }
        onLine(line.c_str());
        line.clear();
    }
    if (!line.empty()) onLine(line.c_str());
}

} // namespace qarvel
