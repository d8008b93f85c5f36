// FileScan: lists the entries of a directory tree whose names match a wildcard pattern and
// whose modification time lies strictly between two bounds.
#pragma once

#include <cstdint>
#include <deque>

#include "base/string.h"

namespace qarvel {

struct FileScanEntry {
    String path;            // full path: directory "/" name
    double size = 0;        // bytes
    int32_t created = 0;    // seconds since 1970 (status change time on this platform)
    int32_t accessed = 0;
    int32_t modified = 0;   // the creation time when the file system gives none
};

class FileScan {
public:
    // simple: only '*' and '\' are special in the pattern. direct: with the simple set, the
    // pattern is applied to the listing directly (the same matcher on this platform).
    FileScan(bool simple, bool direct);

    // path is "directory/pattern". kind 0 selects plain files, any other kind directories;
    // depth 0 stays in the directory, a positive depth walks the whole tree, -n descends n
    // levels, 2 also selects both sorts. With kind 2 a directory's contents come before it.
    void scan(const String& path, int kind, int depth);

    // Records in the order they were found; false when none remain.
    bool take(FileScanEntry& out);
    size_t count() const { return entries_.size(); }

    unsigned level = 0;
    unsigned maxLevel = ~0u;
    int64_t lowerTime = 0;   // exclusive bounds on the modification time
    int64_t upperTime;
    unsigned long fileCount = 0;
    double totalSize = 0;

private:
    bool simple_;
    bool direct_;
    std::deque<FileScanEntry> entries_;
};

}  // namespace qarvel
