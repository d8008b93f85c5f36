#include "config/process.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

namespace qarvel {

ProcessObjects& processObjects() {
    static ProcessObjects objects;
    return objects;
}

int queueAttachment(ProcessObjects& objects, const String& path, const String& name, int related,
                    int& missing) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        const int error = errno;
        if (related == 0) {
            std::fprintf(stderr, "WARNING: attachment '%s' does not exist! (%d)\n", path.c_str(), error);
            ++missing;
        } else {
            std::fprintf(stderr, "WARNING: include '%s' does not exist! (%d)\n", path.c_str(), error);
        }
        return 0;
    }
    objects.attachments.push_back(PendingAttachment{path, name, related});
    return 1;
}

} // namespace qarvel
