// SeenFile: the ids of the messages delivered, per account, written back durably.
#include "receive/seen_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "base/file_lock.h"
#include "base/paths.h"
#include "base/staged_file.h"

namespace qarvel {

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c <= ' ' || c == 0x7F || c == '%') {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        if (text[i] == '%' && i + 2 < text.size() && sscanf(text.c_str() + i + 1, "%2x", &value) == 1) {
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

String seenAccount(const char* scheme, const String& user, const String& host, const String& port,
                   const String& folder) {
    std::string account = std::string(scheme) + "://";
    if (!user.empty()) account += user.str() + "@";
    account += host.str();
    if (!port.empty()) account += ":" + port.str();
    if (!folder.empty()) account += "/" + folder.str();
    return String(escaped(account));
}

bool SeenFile::read(std::vector<std::string>& others, std::set<std::string>& ids, bool dropFamily) const {
    FILE* file = fopen(path_.c_str(), "rb");
    if (!file) return errno == ENOENT;
    std::string line;
    int c;
    bool ok = true;
    for (;;) {
        line.clear();
        while ((c = getc(file)) != EOF && c != '\n') line += static_cast<char>(c);
        if (c == EOF && line.empty()) break;
        size_t blank = line.find(' ');
        std::string account = line.substr(0, blank);
        if (blank != std::string::npos && account == account_.str()) {
            ids.insert(unescaped(line.substr(blank + 1)));
        } else if (!(dropFamily && !family_.empty() && account.compare(0, family_.length(), family_.str()) == 0)) {
            if (!line.empty()) others.push_back(line);
        }
        if (c == EOF) break;
    }
    if (ferror(file)) ok = false;
    fclose(file);
    return ok;
}

bool SeenFile::load(const String& path, const String& account, const String& family) {
    path_ = path;
    account_ = account;
    family_ = family;
    ids_.clear();
    std::vector<std::string> others;
    if (read(others, ids_, true)) return true;
    fprintf(stderr, "Could not read the seen file '%s': %s\n", path.c_str(), strerror(errno));
    return false;
}

void SeenFile::setPresent(const std::vector<String>& ids) {
    present_.clear();
    for (const String& id : ids) present_.insert(id.str());
    presentKnown_ = true;
}

bool SeenFile::save() {
    FileLock lock(path_.str() + ".lock");
    std::vector<std::string> others;
    std::set<std::string> ids = ids_;
    // Another run may have written the file since it was read: its lines stay.
    bool ok = lock.held() && read(others, ids, true);
    std::string text;
    for (const std::string& line : others) text += line + "\n";
    for (const std::string& id : ids)
        if (!presentKnown_ || present_.count(id)) text += account_.str() + " " + escaped(id) + "\n";
    auto folder = ok ? FolderHandle::open(folderOf(path_)) : nullptr;
    StagedFile file;
    ok = folder && file.create(folder, 0600) && file.write(text.data(), text.size()) && file.sync() &&
         file.commitReplacing(pathFile(path_)) && ::fsync(folder->fd()) == 0;
    if (ok) return true;
    int error = file.error() ? file.error() : errno;
    fprintf(stderr, "Could not write the seen file '%s': %s\n", path_.c_str(), strerror(error ? error : EIO));
    return false;
}

}  // namespace qarvel
