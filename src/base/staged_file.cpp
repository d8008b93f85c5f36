// StagedFile and FolderHandle: files made under a temporary name inside an open folder and
// renamed into place once whole.
#include "base/staged_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace qarvel {

std::shared_ptr<const FolderHandle> FolderHandle::open(const String& path) {
    int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::shared_ptr<const FolderHandle>(new FolderHandle(fd, path));
}

FolderHandle::~FolderHandle() { ::close(fd_); }

namespace {

// The temporary names: a leading dot keeps them out of a plain listing, and the random part
// makes a clash with another process's names unlikely (O_EXCL settles any clash).
String temporaryName() {
    static std::mt19937_64 random(std::random_device{}() ^ (static_cast<uint64_t>(getpid()) << 32));
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    char name[] = ".qarvel-XXXXXXXX";
    uint64_t bits = random();
    for (char* p = name + 8; *p; ++p, bits >>= 6) *p = kChars[bits % 62];
    return name;
}

} // namespace

StagedFile::~StagedFile() { discard(); }

StagedFile::StagedFile(StagedFile&& other) noexcept { *this = std::move(other); }

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
    if (this != &other) {
        discard();
        folder_ = std::move(other.folder_);
        tempName_ = other.tempName_;
        name_ = other.name_;
        fd_ = other.fd_;
        error_ = other.error_;
        committed_ = other.committed_;
        other.tempName_ = String();
        other.fd_ = -1;
        other.committed_ = false;
    }
    return *this;
}

bool StagedFile::create(std::shared_ptr<const FolderHandle> folder, mode_t mode) {
    discard();
    error_ = 0;
    committed_ = false;
    name_ = String();
    if (!folder) {
        errno = EBADF;
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        String name = temporaryName();
        int fd = ::openat(folder->fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            folder_ = std::move(folder);
            tempName_ = name;
            fd_ = fd;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool StagedFile::write(const char* data, size_t length) {
    if (error_) return false;
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    while (length > 0) {
        ssize_t n = ::write(fd_, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A write that takes nothing without an error is a full disk by another name.
            error_ = n < 0 ? errno : ENOSPC;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool StagedFile::close() {
    if (fd_ >= 0) {
        if (::close(fd_) != 0 && !error_) error_ = errno;
        fd_ = -1;
    }
    return error_ == 0;
}

bool StagedFile::commit(const String& name) { return commit(name, folder_); }

bool StagedFile::commit(const String& name, std::shared_ptr<const FolderHandle> into) {
    if (tempName_.empty() || !into || !close()) {
        errno = error_ ? error_ : EBADF;
        return false;
    }
    const int from = folder_->fd(), to = into->fd();
    int r = ::renameat2(from, tempName_.c_str(), to, name.c_str(), RENAME_NOREPLACE);
    if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the no-replace rename: a hard link is made only when the
        // name is free, and the temporary name goes after it.
        r = ::linkat(from, tempName_.c_str(), to, name.c_str(), 0);
        if (r == 0) ::unlinkat(from, tempName_.c_str(), 0);
    }
    if (r != 0) return false;
    folder_ = std::move(into);
    tempName_ = String();
    name_ = name;
    committed_ = true;
    return true;
}

bool StagedFile::commitReplacing(const String& name) {
    if (tempName_.empty() || !close()) {
        errno = error_ ? error_ : EBADF;
        return false;
    }
    if (::renameat(folder_->fd(), tempName_.c_str(), folder_->fd(), name.c_str()) != 0) return false;
    tempName_ = String();
    name_ = name;
    committed_ = true;
    return true;
}

bool StagedFile::sync() {
    if (error_) return false;
    int fd = fd_;
    if (fd < 0) {
        const String& entry = committed_ ? name_ : tempName_;
        fd = folder_ && !entry.empty()
                 ? ::openat(folder_->fd(), entry.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)
                 : -1;
        if (fd < 0) {
            error_ = folder_ ? errno : EBADF;
            return false;
        }
    }
    if (::fsync(fd) != 0) error_ = errno;
    if (fd != fd_) ::close(fd);
    return error_ == 0;
}

bool StagedFile::withdraw() {
    if (!committed_ || !folder_) return false;
    committed_ = false;
    return ::unlinkat(folder_->fd(), name_.c_str(), 0) == 0;
}

void StagedFile::discard() {
    int saved = errno;  // the caller's message may still be on its way
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!tempName_.empty() && folder_) ::unlinkat(folder_->fd(), tempName_.c_str(), 0);
    tempName_ = String();
    errno = saved;
}

}  // namespace qarvel
