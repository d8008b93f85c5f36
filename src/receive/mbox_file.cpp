// MboxFile: messages appended to an mbox file under its dot-lock and fcntl locks.
#include "receive/mbox_file.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "base/paths.h"
#include "receive/header_display.h"

namespace qarvel {

namespace {

// How long a lock is waited for, and when a dot-lock nobody touched is taken for a dead
// writer's.
constexpr int kLockWaitMilliseconds = 30000;
constexpr time_t kStaleDotLockSeconds = 300;
constexpr size_t kSpoolBlock = 64 * 1024;
// A line start of more ">" than this is not looked at for "From " any further.
constexpr size_t kQuoteRunMax = 1024;

bool writeAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// The dot-lock, then the fcntl lock, as Dovecot takes them; released in reverse order.
class MboxLock {
public:
    MboxLock(const String& path, int fd) : dotLock_(path.str() + ".lock"), fd_(fd) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(kLockWaitMilliseconds);
        auto wait = [&] {
            if (Clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            return true;
        };
        for (;;) {
            int lock = ::open(dotLock_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (lock >= 0) {
                ::close(lock);
                dotLocked_ = true;
                break;
            }
            // A folder where no lock file can be made (a mail spool of group mail): fcntl alone.
            if (errno == EACCES || errno == EPERM || errno == EROFS) break;
            struct stat st;
            if (errno == EEXIST && lstat(dotLock_.c_str(), &st) == 0 && time(nullptr) - st.st_mtime > kStaleDotLockSeconds) {
                ::unlink(dotLock_.c_str());
                continue;
            }
            if (errno != EEXIST || !wait()) {
                error_ = errno == EEXIST ? ETIMEDOUT : errno;
                return;
            }
        }
        struct flock range {};
        range.l_type = F_WRLCK;
        range.l_whence = SEEK_SET;
        while (fcntl(fd_, F_SETLK, &range) != 0) {
            if ((errno != EACCES && errno != EAGAIN && errno != EINTR) || !wait()) {
                error_ = errno == EACCES || errno == EAGAIN ? ETIMEDOUT : errno;
                return;
            }
        }
        held_ = true;
    }
    ~MboxLock() {
        if (held_) {
            struct flock range {};
            range.l_type = F_UNLCK;
            range.l_whence = SEEK_SET;
            fcntl(fd_, F_SETLK, &range);
        }
        if (dotLocked_) ::unlink(dotLock_.c_str());
    }
    MboxLock(const MboxLock&) = delete;
    MboxLock& operator=(const MboxLock&) = delete;
    bool held() const { return held_; }
    int error() const { return error_; }

private:
    std::string dotLock_;
    int fd_;
    bool dotLocked_ = false;
    bool held_ = false;
    int error_ = 0;
};

off_t sizeOf(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 ? st.st_size : -1;
}

} // namespace

// ---------------------------------------------------------------- the text

void MboxText::reset() {
    lineStart_ = true;
    pendingCr_ = false;
    last_ = '\n';
    held_.clear();
}

void MboxText::feed(const char* data, size_t length, std::string& out) {
    // CR LF becomes LF; a CR that ends a piece waits for the next one's first byte.
    lf_.clear();
    if (pendingCr_ && length > 0) {
        pendingCr_ = false;
        if (data[0] != '\n') lf_ += '\r';
    }
    for (size_t i = 0; i < length;) {
        const void* cr = memchr(data + i, '\r', length - i);
        size_t run = cr ? static_cast<size_t>(static_cast<const char*>(cr) - data) - i : length - i;
        lf_.append(data + i, run);
        i += run;
        if (!cr) break;
        if (i + 1 == length) pendingCr_ = true;
        else if (data[i + 1] != '\n') lf_ += '\r';
        ++i;
    }
    quote(lf_.data(), lf_.size(), out);
}

void MboxText::quote(const char* data, size_t length, std::string& out) {
    for (size_t i = 0; i < length;) {
        if (!lineStart_) {
            const void* lf = memchr(data + i, '\n', length - i);
            size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - data) + 1 : length;
            out.append(data + i, end - i);
            i = end;
            lineStart_ = lf != nullptr;
            continue;
        }
        // A line start is held until it shows whether it is ">"* and "From ".
        const char c = data[i++];
        held_ += c;
        const size_t text = held_.find_first_not_of('>');
        const bool decided = c == '\n' || (text == std::string::npos ? held_.size() > kQuoteRunMax
                                                                      : held_.size() - text >= 5);
        if (!decided) continue;
        if (text != std::string::npos && held_.compare(text, 5, "From ") == 0) out += '>';
        out += held_;
        held_.clear();
        lineStart_ = c == '\n';
    }
    if (!out.empty()) last_ = out.back();
}

void MboxText::finish(std::string& out) {
    if (pendingCr_) held_ += '\r';
    out += held_;
    if (!held_.empty()) last_ = held_.back();
    held_.clear();
    pendingCr_ = false;
    if (last_ != '\n') out += '\n';
    out += '\n';
}

// ---------------------------------------------------------------- the file

MboxFile::~MboxFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool MboxFile::open(const String& path, const String& spoolFolder) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600);
    newFile_ = fd_ >= 0;
    if (fd_ < 0 && errno == EEXIST) fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (fd_ >= 0 && (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd_);
        fd_ = -1;
        errno = EINVAL;
    }
    if (fd_ < 0) {
        fprintf(stderr, "Could not open the mbox file '%s': %s\n", path.c_str(),
                errno == EINVAL ? "not a regular file" : strerror(errno));
        return false;
    }
    spool_ = TempFile(spoolFolder, "qarvel-mbox-");
    if (!spool_.valid()) {
        fprintf(stderr, "Could not create a spool file in '%s': %s\n", spoolFolder.c_str(), strerror(errno));
        return false;
    }
    spool_.removeName();
    return true;
}

void MboxFile::begin() {
    text_.reset();
    buffer_.clear();
    spoolError_ = 0;
    if (ftruncate(spool_.fd(), 0) != 0 || lseek(spool_.fd(), 0, SEEK_SET) != 0) spoolError_ = errno;
}

bool MboxFile::spoolOut(std::string& buffer) {
    if (!spoolError_ && !writeAll(spool_.fd(), buffer.data(), buffer.size())) spoolError_ = errno;
    buffer.clear();
    return spoolError_ == 0;
}

void MboxFile::write(const char* data, size_t length) {
    text_.feed(data, length, buffer_);
    if (buffer_.size() >= kSpoolBlock) spoolOut(buffer_);
}

bool MboxFile::append(const String& sender, off_t& start, off_t& end) {
    start = sizeOf(fd_);
    if (start < 0) return false;
    std::string line = mailboxFromLine(sender, time(nullptr));
    if (!writeAll(fd_, line.data(), line.size())) return false;
    const off_t length = lseek(spool_.fd(), 0, SEEK_CUR);
    std::string block(kSpoolBlock, '\0');
    for (off_t at = 0; at < length;) {
        ssize_t n = pread(spool_.fd(), block.data(), block.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        if (!writeAll(fd_, block.data(), static_cast<size_t>(n))) return false;
        at += n;
    }
    end = sizeOf(fd_);
    return end >= 0;
}

bool MboxFile::end(const String& sender, int messageNumber) {
    text_.finish(buffer_);
    int error = spoolOut(buffer_) ? 0 : spoolError_;
    if (!error) {
        MboxLock lock(path_, fd_);
        off_t start = -1, end = 0;
        if (!lock.held()) {
            error = lock.error();
        } else if (!append(sender, start, end)) {
            error = errno;
            // Nothing of a message that did not go in whole stays for a reader to find.
            if (start >= 0 && ftruncate(fd_, start) != 0) error = errno;
        } else {
            if (roundStart_ < 0) roundStart_ = start;
            else if (start != lastEnd_) contiguous_ = false;
            lastEnd_ = end;
        }
    }
    if (!error) return true;
    fprintf(stderr, "Could not append message #%d to the mbox file '%s': %s\n", messageNumber, path_.c_str(),
            strerror(error));
    return false;
}

int MboxFile::sync() {
    int error = ::fsync(fd_) == 0 ? 0 : errno;
    if (!error && newFile_) {
        auto folder = FolderHandle::open(folderOf(path_));
        error = folder && ::fsync(folder->fd()) == 0 ? 0 : errno;
        if (!error) newFile_ = false;
    }
    if (!error) {
        roundStart_ = -1;
        contiguous_ = true;
    }
    return error;
}

void MboxFile::takeBack() {
    if (roundStart_ >= 0 && contiguous_) {
        MboxLock lock(path_, fd_);
        if (lock.held() && sizeOf(fd_) == lastEnd_ && ftruncate(fd_, roundStart_) == 0) lastEnd_ = roundStart_;
    }
    roundStart_ = -1;
    contiguous_ = true;
}

}  // namespace qarvel
