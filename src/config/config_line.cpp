#include "base/text.h"
#include "config/config_line.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <strings.h>

#include "config/user_file.h"

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

void forEachLine(std::string_view text, size_t maxLength, const std::function<void(const char* line)>& onLine) {
    std::string line;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        line.assign(text.data(), std::min(end, maxLength));
        onLine(line.c_str());
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}

int forEachConfigLine(const String& path, size_t maxLength, const std::function<void(const char* line)>& onLine,
                      String* complaint) {
    UserFile file = readUserFile(path, FileUse::kSettings, kSettingsFileLimit);
    if (complaint) *complaint = file.complaint;
    if (file.state == 1) forEachLine(file.text, maxLength, onLine);
    return file.state;
}

} // namespace qarvel
