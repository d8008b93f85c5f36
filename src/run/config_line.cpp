#include "run/config_line.h"

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
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    const char* p = line;
    while (*p && blank(*p)) ++p;
    while (*p && !blank(*p)) ++p;
    while (*p && blank(*p)) ++p;
    size_t n = 0;
    while (n < limit && p[n] && p[n] != '\r' && p[n] != '\n') ++n;
    return String(p, n);
}

void forEachConfigLine(const String& path, size_t maxLength,
                       const std::function<void(const char* line)>& onLine) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::string line;
    while (in && std::getline(in, line)) {
        if (line.size() > maxLength) line.resize(maxLength);
        onLine(line.c_str());
    }
}

} // namespace qarvel
