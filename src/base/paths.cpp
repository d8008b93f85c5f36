// Path helpers and the cut of names that arrive from outside.
#include "base/paths.h"

#include <string>

#include <cstring>

namespace qarvel {

String pathDirectory(const String& path) { return path.directoryPart(); }

String pathFile(const String& path) { return path.filePart(); }

String folderOf(const String& path) {
    std::string entry = path.str();
    while (entry.size() > 1 && entry.back() == '/') entry.pop_back();
    size_t cut = entry.rfind('/');
    if (cut == std::string::npos) return String();
    return cut == 0 ? String("/") : String(entry.substr(0, cut));
}

String joinPath(const String& folder, const String& name) {
    if (folder.length() == 0) return name;
    if (folder[folder.length() - 1] == '/') return folder + name;
    return folder + "/" + name;
}

String outsideFileName(const String& name) {
    const char* text = name.c_str();
    const char* cut = text;
    for (const char* p = text; *p; ++p)
        if (*p == '/' || *p == '\\') cut = p + 1;
    if (std::strcmp(cut, ".") == 0 || std::strcmp(cut, "..") == 0) return String();
    return cut == text ? name : String(cut);
}

}  // namespace qarvel
