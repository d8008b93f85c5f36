// The Message record, extracted part data and the attachment writer.
#include "receive/message.h"

#include "base/paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qarvel {

namespace {

constexpr size_t kCopyBlock = 64 * 1024;

// Writes all bytes or reports failure (short writes count as failures).
bool writeAll(FILE* out, const char* data, size_t length) {
    return length == 0 || fwrite(data, 1, length, out) == length;
}

// Copies bytes to out, turning CR LF into LF when asked. pendingCr carries a CR that ended
// the previous block.
bool writeConverted(FILE* out, const char* data, size_t length, bool textMode, bool& pendingCr) {
    if (!textMode) return writeAll(out, data, length);
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        if (pendingCr) {
            pendingCr = false;
            if (data[i] != '\n' && fputc('\r', out) == EOF) return false;
        }
        if (data[i] == '\r') {
            if (!writeAll(out, data + start, i - start)) return false;
            pendingCr = true;
            start = i + 1;
        }
    }
    return writeAll(out, data + start, length - start);
}

} // namespace

// --- PartData ---

namespace {
size_t partBytesInMemory = 0;  // the sum of memory_.size() over every PartData
} // namespace

size_t PartData::bytesInMemory() { return partBytesInMemory; }

PartData::~PartData() { clear(); }

void PartData::clear() {
    if (file_) fclose(file_);
    file_ = nullptr;
    if (!filePath_.empty()) unlink(filePath_.c_str());
    filePath_.clear();
    partBytesInMemory -= memory_.size();
    std::string().swap(memory_);
    size_ = 0;
    failed_ = false;
}

bool PartData::spill() {
    std::string folder = spillFolder_.empty() ? std::string("/tmp") : spillFolder_.str();
    std::string path = folder + "/qarvel-part-XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) {
        // The working folder may be unusable; the system's temporary folder is the fallback.
        path = "/tmp/qarvel-part-XXXXXX";
        fd = mkstemp(path.data());
        if (fd < 0) return false;
    }
    file_ = fdopen(fd, "w+b");
    if (!file_) {
        close(fd);
        unlink(path.c_str());
        return false;
    }
    filePath_ = path;
    if (!writeAll(file_, memory_.data(), memory_.size())) return false;
    partBytesInMemory -= memory_.size();
    std::string().swap(memory_);
    return true;
}

bool PartData::append(const char* data, size_t length) {
    if (failed_) return false;
    const bool overLimit = memory_.size() + length > memoryLimit_ ||
                           partBytesInMemory + length > kPartsMemoryBudget;
    if (filePath_.empty() && overLimit && !spill()) {
        failed_ = true;
        return false;
    }
    if (!filePath_.empty() && !file_ && !(file_ = fopen(filePath_.c_str(), "ab"))) {
        failed_ = true;
        return false;
    }
    if (file_) {
        if (!writeAll(file_, data, length)) {
            failed_ = true;
            return false;
        }
    } else {
        memory_.append(data, length);
        partBytesInMemory += length;
    }
    size_ += length;
    return true;
}

// A finished part closes its file: a message of a thousand large parts must not hold a
// thousand open files (and their buffers) until its parts are written out.
bool PartData::finish() {
    if (file_ && fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

FILE* PartData::openForReading() const {
    if (file_ && fflush(file_) != 0) return nullptr;
    return fopen(filePath_.c_str(), "rb");
}

bool PartData::copyTo(FILE* out, bool textMode) const {
    bool pendingCr = false;
    if (inMemory()) {
        if (!writeConverted(out, memory_.data(), memory_.size(), textMode, pendingCr)) return false;
    } else {
        std::unique_ptr<FILE, int (*)(FILE*)> in(openForReading(), fclose);
        if (!in) return false;
        std::string block(kCopyBlock, '\0');
        uint64_t left = size_;
        while (left > 0) {
            size_t want = left < kCopyBlock ? static_cast<size_t>(left) : kCopyBlock;
            size_t got = fread(block.data(), 1, want, in.get());
            if (got == 0) return false;
            if (!writeConverted(out, block.data(), got, textMode, pendingCr)) return false;
            left -= got;
        }
    }
    if (pendingCr && fputc('\r', out) == EOF) return false;
    return true;
}

std::string PartData::head(size_t max) const {
    if (inMemory()) return memory_.substr(0, max);
    std::unique_ptr<FILE, int (*)(FILE*)> in(openForReading(), fclose);
    if (!in) return {};
    std::string out(static_cast<size_t>(std::min<uint64_t>(max, size_)), '\0');
    out.resize(fread(out.data(), 1, out.size(), in.get()));
    return out;
}

// --- Message ---

String Message::replyAddress() const {
    if (!replyTo.empty()) return replyTo;
    if (!from.empty()) return from;
    return "[unknown]";
}

String Message::sender() const {
    if (!from.empty()) return from;
    if (!replyTo.empty()) return replyTo;
    return "[unknown]";
}

String Message::mediaType() const {
    size_t n = 0;
    while (n < contentType.length() && n < 255 && contentType[n] != ';' && contentType[n] != '\r' &&
           contentType[n] != '\n')
        ++n;
    if (n == 0) return "text/plain";
    return String(contentType.c_str(), n);
}

const char* Message::priorityName() const {
    switch (priority) {
    case 1: return "High";
    case 2: return "Low";
    case 3: return "Normal";
    default: return "";
    }
}

const MessagePart* Message::nextPart() {
    if (parts.empty()) {
        current.reset();
        return nullptr;
    }
    current = std::move(parts.front());
    parts.pop_front();
    bodyLength = current->size();
    partFileName = current->fileName;
    contentType = current->contentType;
    charset = "";
    size_t at = contentType.find("charset=");
    if (at != String::npos) {
        size_t start = at + 8;
        if (contentType[start] == '"') ++start;
        size_t end = start;
        while (end < contentType.length() && end - start < 255 &&
               !strchr(";\"\r\n", contentType[end]))
            ++end;
        charset = String(contentType, start, end - start);
    }
    contentId = current->contentId;
    return current.get();
}

String Message::header(const char* name) const {
    for (const auto& [key, value] : headers)
        if (key.equalsIgnoreCase(name)) return value;
    return String();
}

void Message::clearHeaderFields() {
    subjectText = replyTo = from = toText = ccText = dateText = "";
    contentType = charset = partFileName = dispositionNotificationTo = sensitivity = "";
    contentId = contentLocation = contentBase = messageId = references = "";
    priority = 0;
    headerCount = 0;
    fieldCharsets = FieldCharsets();
}

void Message::clear() {
    clearHeaderFields();
    std::string().swap(body);
    bodyLength = bytesRead = expectedBytes = 0;
    parsed = 0;
    bodyCut = false;
    partsDropped = 0;
    parts.clear();
    current.reset();
    headers.clear();
    ownHeaderLines = 0;
}

// --- names and the attachment writer ---

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

} // namespace qarvel
