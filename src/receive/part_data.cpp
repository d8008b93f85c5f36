// PartData: an extracted part's bytes, moved to a temporary file when they outgrow memory.
#include "receive/part_data.h"

#include <algorithm>
#include <memory>

namespace qarvel {

namespace {

constexpr size_t kCopyBlock = 64 * 1024;

// Writes all bytes or reports failure (short writes count as failures).
bool writeAll(FILE* out, const char* data, size_t length) {
    return length == 0 || fwrite(data, 1, length, out) == length;
}

} // namespace

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

namespace {
size_t partBytesInMemory = 0;  // the sum of memory_.size() over every PartData
} // namespace

size_t PartData::bytesInMemory() { return partBytesInMemory; }

PartData::~PartData() { clear(); }

void PartData::clear() {
    spill_ = TempFile();
    partBytesInMemory -= memory_.size();
    std::string().swap(memory_);
    size_ = 0;
    failed_ = false;
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
    if (!spill_.close()) failed_ = true;
    return !failed_;
}

FILE* PartData::openForReading() const {
    if (!spill_.flushed()) return nullptr;
    return fopen(spill_.path().c_str(), "rb");
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

}  // namespace qarvel
