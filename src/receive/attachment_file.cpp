// The attachment writer: safe file names and the file created inside its folder, never
// through a link.
#include "receive/attachment_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "base/paths.h"

namespace qarvel {

namespace {

// The bytes a file name keeps: ASCII letters and digits, the marks in keep, and every byte of
// 128 and above. Every other byte, control characters and NUL among them, becomes "_", so the
// name that was checked is the name the file system gets.
String mappedName(const String& text, const char* keep) {
    std::string out;
    out.reserve(text.length());
    for (size_t i = 0; i < text.length(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 128 || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            (c != '\0' && strchr(keep, c) != nullptr))
            out.push_back(static_cast<char>(c));
        else
            out.push_back('_');
    }
    // "." and ".." would name the folder itself or its parent.
    if (out == ".") out = "_";
    if (out == "..") out = "__";
    return String(out);
}

constexpr char kNameMarks[] = "-+_~$().";
// A content id is an address-like token ("part1@host"); its "@" is harmless in a file name.
constexpr char kContentIdMarks[] = "-+_~$().@";

} // namespace

String safeFileName(const String& text) { return mappedName(text, kNameMarks); }

String attachmentFileName(const String& name) { return safeFileName(outsideFileName(name)); }

String contentIdFileName(const String& id) { return mappedName(outsideFileName(id), kContentIdMarks); }

String generatedPartName() {
    // Starts at the processor clock so that two runs in the same second are unlikely to meet;
    // the writer never lets a generated name replace a file either way.
    static unsigned sequence = static_cast<unsigned>(clock() % 1000);
    char name[40];
    snprintf(name, sizeof name, "%08lX.%03u", static_cast<unsigned long>(time(nullptr)), sequence++);
    return name;
}

namespace {

// One attachment file, created inside its folder and never through a link: the folder is
// opened once and the file is opened relative to it with O_NOFOLLOW, so neither a symbolic
// link planted under the attachment's name nor a rename of the folder's entries in between
// leads outside. A file that is not a plain file of one link (a FIFO, a device, a hard link
// to a file elsewhere) is refused before anything is written. The file is removed again when
// its writing fails.
class AttachmentFile {
public:
    AttachmentFile() = default;
    ~AttachmentFile() {
        if (out_) fclose(out_);
        if (folder_ >= 0 && folder_ != AT_FDCWD) ::close(folder_);
    }
    AttachmentFile(const AttachmentFile&) = delete;
    AttachmentFile& operator=(const AttachmentFile&) = delete;

    // Opens directory/fileName, choosing the next "Copy%d_" name while the name is taken when
    // fresh is set. fileName is updated to the name used. Prints the error and returns null
    // when the file cannot be created.
    FILE* create(const String& directory, String& fileName, bool fresh) {
        // The writer's own check, whatever the caller did: the cut and the byte map ("@" may
        // stay, as a name taken from a content id keeps it).
        String wanted = contentIdFileName(fileName);
        if (wanted.empty()) wanted = "_";
        String name = wanted;
        path_ = joinPath(directory, name).str();
        folder_ = directory.empty() ? AT_FDCWD : ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder_ < 0) return fail();
        const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (fresh ? O_EXCL : 0);
        int fd = ::openat(folder_, name.c_str(), flags, 0644);
        for (int k = 1; fd < 0 && errno == EEXIST && fresh && k < 100000; ++k) {
            char prefix[32];
            snprintf(prefix, sizeof prefix, "Copy%d_", k);
            name = String(prefix) + wanted;
            path_ = joinPath(directory, name).str();
            fd = ::openat(folder_, name.c_str(), flags, 0644);
        }
        fileName = name;
        name_ = name.str();
        if (fd < 0) return fail();
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
            ::close(fd);
            errno = EPERM;
            fprintf(stderr, "Could not create attachment file: '%s': not a plain file of its own\n",
                    path_.c_str());
            return nullptr;
        }
        created_ = true;
        if (ftruncate(fd, 0) != 0 || fcntl(fd, F_SETFL, 0) != 0 || !(out_ = fdopen(fd, "wb"))) {
            ::close(fd);
            remove();
            return fail();
        }
        return out_;
    }

    // Closes the file; reports and removes it when the bytes did not all reach it.
    int finish(bool written) {
        bool ok = written && fflush(out_) == 0 && !ferror(out_);
        ok = (fclose(out_) == 0) && ok;
        out_ = nullptr;
        if (ok) return kWriteOk;
        fprintf(stderr, "Could not write attachment file: '%s': %s\n", path_.c_str(),
                strerror(errno ? errno : EIO));
        remove();
        return kWriteFailed;
    }

private:
    FILE* fail() {
        fprintf(stderr, "Could not create attachment file: '%s': %s\n", path_.c_str(), strerror(errno));
        return nullptr;
    }
    void remove() {
        if (created_) unlinkat(folder_, name_.c_str(), 0);
        created_ = false;
    }

    int folder_ = -1;
    FILE* out_ = nullptr;
    std::string path_, name_;
    bool created_ = false;
};

} // namespace

int writeAttachment(const String& directory, String& fileName, const MessagePart& part,
                    bool textMode, bool unique) {
    AttachmentFile file;
    // A generated name is meant to be new: it never replaces a file that is already there.
    FILE* out = file.create(directory, fileName, unique || part.generatedName);
    if (!out) return kWriteFailed;
    errno = 0;
    bool written = !part.data.failed() && part.data.copyTo(out, textMode);
    return file.finish(written);
}

int writeAttachment(const String& directory, String& fileName, const char* bytes, size_t length,
                    bool textMode, bool unique) {
    AttachmentFile file;
    FILE* out = file.create(directory, fileName, unique);
    if (!out) return kWriteFailed;
    errno = 0;
    bool pendingCr = false;
    bool written = writeConverted(out, bytes, length, textMode, pendingCr) &&
                   (!pendingCr || fputc('\r', out) != EOF);
    return file.finish(written);
}

}  // namespace qarvel
