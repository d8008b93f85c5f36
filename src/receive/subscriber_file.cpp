// The subscriber file and the distribution progress file of a mailing list.
#include "receive/subscriber_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/file_lock.h"
#include "base/paths.h"
#include "base/temp_file.h"
#include "receive/header_display.h"

namespace qarvel {

namespace {

std::string lowered(const String& address) {
    String bare = senderAddress(address);
    std::string s = bare.str();
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Splits text into trimmed entries at line ends and commas.
void splitEntries(const std::string& text, std::vector<String>& out) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (line.empty() || line.front() == '#') continue;
        size_t start = 0;
        while (start <= line.size()) {
            size_t comma = line.find(',', start);
            if (comma == std::string_view::npos) comma = line.size();
            std::string_view entry = line.substr(start, comma - start);
            while (!entry.empty() && std::isspace(static_cast<unsigned char>(entry.front()))) entry.remove_prefix(1);
            while (!entry.empty() && std::isspace(static_cast<unsigned char>(entry.back()))) entry.remove_suffix(1);
            if (!entry.empty()) out.emplace_back(entry);
            start = comma + 1;
        }
    }
}

bool readWhole(const std::string& path, std::string& text, bool& missing) {
    missing = false;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        missing = errno == ENOENT;
        return missing;
    }
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

// Makes a rename in the folder of path durable: false (errno set) when it cannot be.
bool syncFolder(const String& path) {
    String folder = folderOf(path);
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int r = ::fsync(fd);
    int error = errno;
    ::close(fd);
    errno = error;
    return r == 0;
}

bool writeAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

long findAddress(const std::vector<String>& list, const String& address) {
    std::string wanted = lowered(address);
    if (wanted.empty()) return -1;
    for (size_t i = 0; i < list.size(); ++i)
        if (lowered(list[i]) == wanted) return static_cast<long>(i);
    return -1;
}

int SubscriberFile::read(std::vector<String>& list) const {
    list.clear();
    std::string text;
    bool missing = false;
    if (!readWhole(path_.str(), text, missing)) {
        std::fprintf(stderr, "Could not read the subscriber file '%s': %s\n", path_.c_str(), std::strerror(errno));
        return -1;
    }
    splitEntries(text, list);
    return 1;
}

int SubscriberFile::write(const std::vector<String>& list) const {
    std::string text;
    for (const String& address : list) {
        text += address.view();
        text += '\n';
    }
    TempFile temp = TempFile::beside(path_);
    if (!temp.valid()) {
        std::fprintf(stderr, "Could not write the subscriber file '%s': %s\n", path_.c_str(), std::strerror(errno));
        return -1;
    }
    // The new file keeps the old one's permissions.
    if (!temp.setModeOf(path_)) temp.setMode(0644);
    bool ok = writeAll(temp.fd(), text.data(), text.size()) && temp.sync();
    int error = errno;
    if (ok && (!temp.moveTo(path_) || !syncFolder(path_))) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        std::fprintf(stderr, "Could not write the subscriber file '%s': %s\n", path_.c_str(), std::strerror(error));
        return -1;
    }
    return 1;
}

int SubscriberFile::update(const std::function<bool(std::vector<String>&)>& change) {
    FileLock lock(path_.str() + ".lock");
    if (!lock.held()) {
        std::fprintf(stderr, "Could not lock the subscriber file '%s': %s\n", path_.c_str(), std::strerror(errno));
        return -1;
    }
    std::vector<String> list;
    if (read(list) < 0) return -1;
    if (!change(list)) return 0;
    return write(list);
}

// ---------------------------------------------------------------- subscriber stream

SubscriberStream::SubscriberStream(const String& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_ && errno != ENOENT) error_ = errno;
}

SubscriberStream::~SubscriberStream() {
    if (file_) std::fclose(file_);
}

int SubscriberStream::next(String& address) {
    while (taken_ >= line_.size()) {
        if (error_ != 0) break;
        if (!file_) return 0;
        line_.clear();
        taken_ = 0;
        std::string line;
        int c;
        while ((c = std::getc(file_)) != EOF && c != '\n') line += static_cast<char>(c);
        if (std::ferror(file_)) {
            error_ = errno ? errno : EIO;
            break;
        }
        if (c == EOF && line.empty()) return 0;
        splitEntries(line, line_);
    }
    if (error_ != 0) {
        std::fprintf(stderr, "Could not read the subscriber file '%s': %s\n", path_.c_str(), std::strerror(error_));
        return -1;
    }
    address = line_[taken_++];
    return 1;
}

// ---------------------------------------------------------------- distribution progress

DistributionProgress::DistributionProgress(const String& subscriberFile, String contribution)
    : path_(subscriberFile + ".progress"), contribution_(std::move(contribution)) {}

void DistributionProgress::load() {
    reached_.clear();
    started_ = false;
    std::string text;
    bool missing = false;
    if (!readWhole(path_.str(), text, missing) || missing) return;
    size_t first = text.find('\n');
    if (first == std::string::npos || text.compare(0, first, contribution_.str()) != 0 ||
        first != contribution_.length())
        return;  // another contribution's leftover: this one starts afresh
    started_ = true;
    std::vector<String> addresses;
    splitEntries(text.substr(first + 1), addresses);
    for (const String& a : addresses) reached_.insert(lowered(a));
}

bool DistributionProgress::reached(const String& address) const {
    return reached_.count(lowered(address)) != 0;
}

bool DistributionProgress::add(const std::vector<String>& addresses) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (started_ ? O_APPEND : O_TRUNC);
    int fd = ::open(path_.c_str(), flags, 0644);
    if (fd < 0) return false;
    std::string text;
    if (!started_) text = contribution_.str() + "\n";
    for (const String& a : addresses) {
        text += a.view();
        text += '\n';
    }
    bool ok = writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) started_ = true;
    return ok;
}

void DistributionProgress::finish() {
    ::unlink(path_.c_str());
    reached_.clear();
    started_ = false;
}

} // namespace qarvel
