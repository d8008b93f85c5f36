// PartData: an extracted part's bytes, straight into the extraction folder, or in memory and
// moved to a temporary file when they outgrow it.
#include "receive/part_data.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qarvel {

namespace {

constexpr size_t kCopyBlock = 64 * 1024;

// Writes all bytes or reports failure (short writes count as failures).
bool writeAll(FILE* out, const char* data, size_t length) {
    return length == 0 || fwrite(data, 1, length, out) == length;
}

// Reads up to length bytes, going on after a short read; -1 on an error.
ssize_t readFull(int fd, char* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::read(fd, data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

} // namespace

bool writeConverted(StagedFile& out, const char* data, size_t length, bool textMode, bool& pendingCr) {
    if (!textMode) return out.write(data, length);
    // The converted bytes are gathered in blocks, so that a text of short lines still goes
    // out in large writes.
    char block[kCopyBlock];
    size_t used = 0;
    auto add = [&](const char* bytes, size_t n) {
        while (n > 0) {
            if (used == sizeof block) {
                if (!out.write(block, used)) return false;
                used = 0;
            }
            size_t take = std::min(n, sizeof block - used);
            memcpy(block + used, bytes, take);
            used += take;
            bytes += take;
            n -= take;
        }
        return true;
    };
    for (size_t i = 0; i < length;) {
        if (pendingCr) {
            pendingCr = false;
            if (data[i] != '\n' && !add("\r", 1)) return false;
        }
        const void* cr = memchr(data + i, '\r', length - i);
        size_t run = cr ? static_cast<size_t>(static_cast<const char*>(cr) - (data + i)) : length - i;
        if (!add(data + i, run)) return false;
        i += run;
        if (cr) {
            pendingCr = true;
            ++i;
        }
    }
    return out.write(block, used);
}

namespace {
size_t partBytesInMemory = 0;  // the sum of memory_.size() over every PartData
} // namespace

size_t PartData::bytesInMemory() { return partBytesInMemory; }

PartData::~PartData() { clear(); }

void PartData::clear() {
    spill_ = TempFile();
    staged_ = StagedFile();
    partBytesInMemory -= memory_.size();
    std::string().swap(memory_);
    size_ = 0;
    failed_ = false;
    pendingCr_ = false;
}

void PartData::stageIn(std::shared_ptr<const FolderHandle> folder, bool text) {
    if (size_ != 0 || !inMemory()) return;
    stagedText_ = text;
    if (!staged_.create(std::move(folder))) staged_ = StagedFile();
}

bool PartData::spill() {
    spill_ = TempFile(spillFolder_, "qarvel-part-");
    // The working folder may be unusable; the system's temporary folder is the fallback.
    if (!spill_.valid()) spill_ = TempFile("/tmp", "qarvel-part-");
    FILE* out = spill_.valid() ? spill_.stream("w+b") : nullptr;
    if (!out) {
        spill_ = TempFile();
        return false;
    }
    if (!writeAll(out, memory_.data(), memory_.size())) return false;
    partBytesInMemory -= memory_.size();
    std::string().swap(memory_);
    return true;
}

bool PartData::append(const char* data, size_t length) {
    if (failed_) return false;
    if (staged_.valid()) {
        if (!writeConverted(staged_, data, length, stagedText_, pendingCr_)) {
            failed_ = true;
            return false;
        }
        size_ += length;
        return true;
    }
    const bool overLimit = memory_.size() + length > memoryLimit_ ||
                           partBytesInMemory + length > kPartsMemoryBudget;
    if (inMemory() && overLimit && !spill()) {
        failed_ = true;
        return false;
    }
    if (!inMemory()) {
        // A finished part that grows again opens its file once more, for appending.
        FILE* out = spill_.stream("ab");
        if (!out || !writeAll(out, data, length)) {
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
    if (staged_.valid()) {
        if (pendingCr_ && !failed_ && !staged_.write("\r", 1)) failed_ = true;
        pendingCr_ = false;
        if (!staged_.close()) failed_ = true;
        return !failed_;
    }
    if (!spill_.close()) failed_ = true;
    return !failed_;
}

int PartData::openForReading() const {
    if (staged_.valid()) {
        if (staged_.tempName().empty()) return -1;
        return ::openat(staged_.folder()->fd(), staged_.tempName().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (!spill_.flushed()) return -1;
    return ::open(spill_.path().c_str(), O_RDONLY | O_CLOEXEC);
}

bool PartData::copyTo(StagedFile& out, bool textMode) const {
    bool pendingCr = false;
    if (staged_.valid()) return false;  // its bytes are in their file already
    if (inMemory()) {
        if (!writeConverted(out, memory_.data(), memory_.size(), textMode, pendingCr)) return false;
    } else {
        int in = openForReading();
        if (in < 0) return false;
        std::string block(kCopyBlock, '\0');
        uint64_t left = size_;
        bool ok = true;
        while (ok && left > 0) {
            size_t want = left < kCopyBlock ? static_cast<size_t>(left) : kCopyBlock;
            ssize_t got = readFull(in, block.data(), want);
            ok = got > 0 && writeConverted(out, block.data(), static_cast<size_t>(got), textMode, pendingCr);
            left -= ok ? static_cast<uint64_t>(got) : 0;
        }
        ::close(in);
        if (!ok) return false;
    }
    return !pendingCr || out.write("\r", 1);
}

std::string PartData::head(size_t max) const {
    if (inMemory()) return memory_.substr(0, max);
    int in = openForReading();
    if (in < 0) return {};
    std::string out(static_cast<size_t>(std::min<uint64_t>(max, size_)), '\0');
    ssize_t got = readFull(in, out.data(), out.size());
    ::close(in);
    out.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return out;
}

}  // namespace qarvel
