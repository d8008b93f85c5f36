// The file mailbox reader: message files on disk read through the socket's reading operations.
#include "receive/file_mailbox_reader.h"
#include "base/paths.h"

#include <algorithm>
#include <cstring>
#include <sys/types.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/wildcard.h"

namespace qarvel {

namespace {

uint64_t fileSize(const String& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

} // namespace

FileMailboxReader::FileMailboxReader() { endMarker_ = 0; }

FileMailboxReader::~FileMailboxReader() { closeFile(); }

void FileMailboxReader::closeFile() {
    if (file_ && ownsFile_) fclose(file_);
    file_ = nullptr;
    ownsFile_ = false;
    input_.reset(nullptr);
}

int FileMailboxReader::read(char* out, int length) { return input_.read(out, length); }
int FileMailboxReader::readLine(char* out, int max) { return input_.readLine(out, max); }
int FileMailboxReader::peekByte(char* out) { return input_.peekByte(out); }

int FileMailboxReader::close() {
    closeFile();
    paths_.clear();
    count_ = 0;
    return MailboxReader::close();
}

int FileMailboxReader::open(const String& host, const String& pattern, const char*, int) {
    if (connected()) close();
    closeFile();
    paths_.clear();
    currentSize_ = 0;
    connectHost_ = host;
    struct stat hostStat;
    const bool folder = stat(host.c_str(), &hostStat) == 0 && S_ISDIR(hostStat.st_mode);
    if (pattern.empty() && !folder) {
        paths_.push_back(host);
        count_ = 1;
        currentSize_ = fileSize(host);
        return kReaderOk;
    }
    // The entries of the directory that match "*" followed by the pattern, in name order (a
    // folder given without a pattern: all of its files).
    String wanted = String("*") + pattern;
    DIR* dir = opendir(host.c_str());
    if (dir) {
        std::vector<std::string> names;
        while (dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
            if (wildcardMatch(wanted, entry->d_name)) names.push_back(entry->d_name);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            String path = joinPath(host, String(name));
            struct stat st;
            if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            paths_.push_back(path);
            currentSize_ += static_cast<uint64_t>(st.st_size);
        }
    }
    count_ = static_cast<int>(paths_.size());
    return kReaderOk;
}

int FileMailboxReader::deleteMessage(int n) {
    if (n < 1 || n > count_) return kReaderFailed;
    return unlink(paths_[static_cast<size_t>(n - 1)].c_str()) == 0 ? kReaderOk : kReaderNotDone;
}

String FileMailboxReader::uniqueId(int n) {
    return n >= 1 && n <= count_ ? pathFile(paths_[static_cast<size_t>(n - 1)]) : String();
}

int FileMailboxReader::retrieve(int n) {
    if (n < 1 || n > count_) return kReaderFailed;
    if (!file_) {
        file_ = fopen(paths_[static_cast<size_t>(n - 1)].c_str(), "rb");
        if (!file_) return kReaderFailed;
        ownsFile_ = true;
    }
    struct stat st;
    uint64_t size = fstat(fileno(file_), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    currentSize_ = size;
    input_.reset(file_);
    int result = parseMessage(size);
    closeFile();
    if (result >= 1 && message().bytesRead < size) {
        // The file was not read to its end: what was shown is not the whole message, and
        // the file must not be removed on its strength.
        fprintf(stderr, "Message file '%s' was read only to byte %llu of %llu\n",
                paths_[static_cast<size_t>(n - 1)].c_str(),
                static_cast<unsigned long long>(message().bytesRead), static_cast<unsigned long long>(size));
        result = kReaderNotDone;
    }
    if (result >= 1) lastRetrieved_ = n;
    return result;
}

} // namespace qarvel

namespace qarvel {

int FileMailboxReader::retrieveFrom(FILE* stream, uint64_t size) {
    closeFile();
    if (!stream) return kReaderFailed;
    file_ = stream;
    ownsFile_ = false;
    input_.reset(file_);
    currentSize_ = size;
    int result = parseMessage(size);
    closeFile();
    return result;
}

} // namespace qarvel
