// FileScan: the entries of a folder tree whose names match a pattern.
#include "base/file_scan.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <memory>

#include "base/wildcard.h"

namespace qarvel {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

FileScan::FileScan(bool simple, bool direct)
    : upperTime(static_cast<int64_t>(std::time(nullptr)) + 10000), simple_(simple), direct_(direct) {}

bool FileScan::take(FileScanEntry& out) {
    if (entries_.empty()) return false;
    out = entries_.front();
    entries_.pop_front();
    return true;
}

void FileScan::scan(const String& path, int kind, int depth) {
    if (path.length() == 0 || level == maxLevel) return;
    if (level == 0) {
        fileCount = 0;
        totalSize = 0;
    }
    ++level;
    String folder = path.directoryPart();
    String pattern = path.filePart();
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.length() ? folder.c_str() : "."));
    if (dir) {
        // The matcher is the same for a direct pattern here: the platform has no wildcard
        // listing of its own.
        bool simpleSet = simple_ || direct_;
        while (dirent* item = readdir(dir.get())) {
            const char* name = item->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            String full = folder.length() ? folder + "/" + name : String(name);
            struct stat info;
            if (stat(full.c_str(), &info) != 0) continue;
            bool isDir = S_ISDIR(info.st_mode);
            if (S_ISREG(info.st_mode)) {
                ++fileCount;
                totalSize += static_cast<double>(info.st_size);
            }
            bool wantDirs = kind != 0;
            if (depth == 0 && isDir != wantDirs) continue;
            bool matches = wildcardMatch(name, pattern.c_str(), true, simpleSet, nullptr);
            int64_t modified = info.st_mtime ? info.st_mtime : info.st_ctime;
            bool record = matches && modified > lowerTime && modified < upperTime &&
                          (isDir == wantDirs || depth == 2);
            FileScanEntry entry;
            entry.path = full;
            entry.size = static_cast<double>(info.st_size);
            entry.created = static_cast<int32_t>(info.st_ctime);
            entry.accessed = static_cast<int32_t>(info.st_atime);
            entry.modified = static_cast<int32_t>(modified);
            bool descend = isDir && depth != 0;
            int nextDepth = depth > 0 ? depth : depth + 1;
            if (descend && kind == 2) scan(full + "/" + pattern, kind, nextDepth);
            if (record) entries_.push_back(entry);
            if (descend && kind != 2) scan(full + "/" + pattern, kind, nextDepth);
        }
    }
    --level;
}

}  // namespace qarvel
