// TempFile and makeTempFolder: temporary names from mkstemp and mkdtemp, removed unless kept.
#include "base/temp_file.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "base/paths.h"

namespace qarvel {

namespace {

std::string patternIn(const String& folder, const char* stem) {
    return joinPath(folder.empty() ? String("/tmp") : folder, String(stem) + "XXXXXX").str();
}

}  // namespace

TempFile::TempFile(std::string pattern) {
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) return;
    fd_ = fd;
    path_ = std::move(pattern);
}

TempFile::TempFile(const String& folder, const char* stem) : TempFile(patternIn(folder, stem)) {}

TempFile TempFile::beside(const String& path) { return TempFile(path.str() + ".XXXXXX"); }

TempFile::~TempFile() { drop(); }

TempFile::TempFile(TempFile&& other) noexcept
    : fd_(other.fd_), stream_(other.stream_), path_(std::move(other.path_)) {
    other.fd_ = -1;
    other.stream_ = nullptr;
    other.path_.clear();
}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
    if (this != &other) {
        drop();
        fd_ = other.fd_;
        stream_ = other.stream_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
        other.stream_ = nullptr;
        other.path_.clear();
    }
    return *this;
}

void TempFile::drop() {
    int saved = errno;  // the caller's error message may still be on its way
    close();
    if (!path_.empty()) ::unlink(path_.c_str());
    path_.clear();
    errno = saved;
}

FILE* TempFile::stream(const char* mode) {
    if (stream_) return stream_;
    if (fd_ >= 0) {
        stream_ = ::fdopen(fd_, mode);
        if (stream_) fd_ = -1;
    } else if (!path_.empty()) {
        stream_ = std::fopen(path_.c_str(), mode);
    }
    return stream_;
}

bool TempFile::sync() {
    if (stream_ && (std::fflush(stream_) != 0 || std::ferror(stream_))) return false;
    int fd = stream_ ? ::fileno(stream_) : fd_;
    return fd < 0 || ::fsync(fd) == 0;
}

bool TempFile::close() {
    bool ok = true;
    if (stream_) {
        ok = std::fflush(stream_) == 0 && !std::ferror(stream_);
        ok = std::fclose(stream_) == 0 && ok;
        stream_ = nullptr;
    }
    if (fd_ >= 0) {
        ok = ::close(fd_) == 0 && ok;
        fd_ = -1;
    }
    return ok;
}

void TempFile::setMode(mode_t mode) {
    int fd = stream_ ? ::fileno(stream_) : fd_;
    if (fd >= 0) ::fchmod(fd, mode);
    else if (!path_.empty()) ::chmod(path_.c_str(), mode);
}

bool TempFile::setModeOf(const String& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    setMode(st.st_mode & 07777);
    return true;
}

mode_t TempFile::newFileMode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool TempFile::moveTo(const String& path) {
    if (!valid() || !close() || std::rename(path_.c_str(), path.c_str()) != 0) return false;
    path_.clear();
    return true;
}

void TempFile::removeName() {
    if (!path_.empty()) ::unlink(path_.c_str());
    path_.clear();
}

std::string makeTempFolder(const String& folder, const char* stem) {
    std::string pattern = patternIn(folder, stem);
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

}  // namespace qarvel
