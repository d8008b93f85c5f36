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

bool writtenAsText(const String& contentType, bool allText) {
    size_t n = 0;
    while (n < contentType.length() && n < 255 && !strchr(";\r\n", contentType[n])) ++n;
    // A part without a content type is text/plain.
    const String media = n ? String(contentType.c_str(), n) : String("text/plain");
    return allText || media.startsWithIgnoreCase("text", 4) || media.equalsIgnoreCase("message/rfc822");
}

namespace {

int reportCreate(const String& directory, const String& name, int error) {
    fprintf(stderr, "Could not create attachment file: '%s': %s\n", joinPath(directory, name).c_str(), strerror(error));
    return kWriteFailed;
}

// Without -unique an entry of the name may be replaced, but only a plain file of one link that
// could be opened for writing: never a link (symbolic or hard), a FIFO, a device or a folder.
// Returns 0 when it may go, else the error to report (EPERM: not a plain file of its own).
int judgeExisting(int folder, const String& name) {
    int fd = ::openat(folder, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st;
    const bool plain = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1;
    ::close(fd);
    return plain ? 0 : EPERM;
}

// Gives a whole file its name in its folder: the name asked for, made safe, or with fresh set
// the first of "Copy1_name", "Copy2_name", … that is free. fileName is updated to the name
// used. Nothing is ever renamed over an entry it must not replace.
int placeFile(StagedFile& file, const String& directory, String& fileName, bool fresh) {
    // The writer's own check, whatever the caller did: the cut and the byte map ("@" may
    // stay, as a name taken from a content id keeps it).
    String wanted = contentIdFileName(fileName);
    if (wanted.empty()) wanted = "_";
    String name = wanted;
    int error = 0;
    for (int k = 1; k < 100000; ++k) {
        if (file.commit(name)) break;
        error = errno;
        if (error != EEXIST) break;
        if (!fresh) {
            error = judgeExisting(file.folder()->fd(), name);
            if (error == 0 && !file.commitReplacing(name)) error = errno;
            break;
        }
        char prefix[32];
        snprintf(prefix, sizeof prefix, "Copy%d_", k);
        name = String(prefix) + wanted;
    }
    fileName = name;
    if (file.committed()) return kWriteOk;
    if (error == EPERM) {
        fprintf(stderr, "Could not create attachment file: '%s': not a plain file of its own\n",
                joinPath(directory, name).c_str());
        return kWriteFailed;
    }
    return reportCreate(directory, name, error);
}

int reportWrite(const String& directory, const String& fileName, int error) {
    String name = contentIdFileName(fileName);
    fprintf(stderr, "Could not write attachment file: '%s': %s\n",
            joinPath(directory, name.empty() ? String("_") : name).c_str(), strerror(error ? error : EIO));
    return kWriteFailed;
}

// A new file in the folder for bytes that are not in one yet. Prints the error when the
// folder or the file cannot be made.
bool stageFile(StagedFile& file, const String& directory, const String& fileName) {
    if (file.create(FolderHandle::open(directory))) return true;
    String name = contentIdFileName(fileName);
    reportCreate(directory, name.empty() ? String("_") : name, errno);
    return false;
}

// A whole file named now, or handed to the round to be named once it is durable.
int place(StagedFile& file, const String& directory, String& fileName, bool fresh, SyncRound* round) {
    if (!round) return placeFile(file, directory, fileName, fresh);
    round->addFile(std::move(file), [directory, fileName, fresh](StagedFile& synced) {
        String name = fileName;
        return placeFile(synced, directory, name, fresh) == kWriteOk;
    });
    return kWriteOk;
}

} // namespace

int writeAttachment(const String& directory, String& fileName, MessagePart& part, bool textMode,
                    bool unique, SyncRound* round) {
    // A generated name is meant to be new: it never replaces a file that is already there.
    const bool fresh = unique || part.generatedName;
    if (StagedFile* staged = part.data.staged()) {
        const String folder = staged->folder()->path();
        if (part.data.failed() || !staged->close()) {
            int error = staged->error();
            staged->discard();
            return reportWrite(folder, fileName, error);
        }
        return place(*staged, folder, fileName, fresh, round);
    }
    StagedFile file;
    if (!stageFile(file, directory, fileName)) return kWriteFailed;
    if (part.data.failed() || !part.data.copyTo(file, textMode) || !file.close())
        return reportWrite(directory, fileName, file.error());
    return place(file, directory, fileName, fresh, round);
}

int writeAttachment(const String& directory, String& fileName, const char* bytes, size_t length,
                    bool textMode, bool unique) {
    StagedFile file;
    if (!stageFile(file, directory, fileName)) return kWriteFailed;
    bool pendingCr = false;
    if (!writeConverted(file, bytes, length, textMode, pendingCr) || (pendingCr && !file.write("\r", 1)) ||
        !file.close())
        return reportWrite(directory, fileName, file.error());
    return placeFile(file, directory, fileName, unique);
}

}  // namespace qarvel
