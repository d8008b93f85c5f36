// The ownership and mode rule for settings and secret files, and their bounded read.
#include "config/user_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qarvel {

namespace {

String modeText(unsigned mode) {
    char text[16];
    std::snprintf(text, sizeof text, "%04o", mode & 07777);
    return text;
}

String ownerText(uid_t uid) {
    char buffer[4096];
    struct passwd entry, *found = nullptr;
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return String(found->pw_name) + " (uid " + std::to_string(uid) + ")";
    return "uid " + std::to_string(uid);
}

String tooLarge(const String& path, size_t limit) {
    return "'" + path + "' is not read: it is larger than " + std::to_string(limit) + " bytes";
}

// Why a file may not be used, or "".
String ruleComplaint(const String& path, const struct stat& st, FileUse use, size_t limit) {
    if (!S_ISREG(st.st_mode))
        return "'" + path + "' is not read: it is " + (S_ISDIR(st.st_mode) ? "a folder" : "not a regular file") +
               " (only a regular file is read)";
    const uid_t caller = geteuid();
    const unsigned mode = st.st_mode & 07777;
    if ((st.st_uid != caller && st.st_uid != 0) || (mode & 022))
        return "'" + path + "' is not read: it belongs to " + ownerText(st.st_uid) + " and has mode " + modeText(mode) +
               "; only a file that belongs to you or root and that nobody else may write is read";
    if (use == FileUse::kSecret) {
        String complaint = secretModeComplaint(path, mode);
        if (!complaint.empty()) return complaint;
    }
    if (static_cast<unsigned long long>(st.st_size) > limit) return tooLarge(path, limit);
    return String();
}

} // namespace

String secretModeComplaint(const String& path, unsigned mode) {
    if ((mode & 077) == 0) return String();
    return "'" + path + "' holds a secret but group or others may use it (mode " + modeText(mode) + "): chmod 600 '" +
           path + "'";
}

UserFile readUserFile(const String& path, FileUse use, size_t limit) {
    UserFile file;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        file.errorNumber = errno;
        return file;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        file.state = -1;
        file.complaint = "Could not check '" + path + "': " + std::strerror(errno);
    } else {
        file.mode = st.st_mode & 07777;
        file.complaint = ruleComplaint(path, st, use, limit);
        file.state = file.complaint.empty() ? 1 : -1;
    }
    // Read to the end, at most one byte past the limit: a file that grew is refused as well.
    char buffer[8192];
    while (file.state == 1) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            file.state = -1;
            file.complaint = "Could not read '" + path + "': " + std::strerror(errno);
        } else if (file.text.size() + static_cast<size_t>(n) > limit) {
            file.state = -1;
            file.complaint = tooLarge(path, limit);
        } else {
            file.text.append(buffer, static_cast<size_t>(n));
        }
    }
    close(fd);
    if (file.state != 1) file.text.clear();
    return file;
}

} // namespace qarvel
