#include "base/base64_filter.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/base64.h"

namespace qarvel {

namespace {

constexpr size_t kBlock = 1 << 16;  // a multiple of 57 is not needed: the encoder keeps state
constexpr off_t kWindow = 4 << 20;

// Writes straight to the descriptor, bypassing stdio buffering of the large blocks.
class DescriptorSink : public ByteSink {
public:
    explicit DescriptorSink(int fd) : fd_(fd) {}
    void write(const char* bytes, size_t count) override {
        while (count > 0 && !failed_) {
            ssize_t n = ::write(fd_, bytes, count);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                failed_ = true;
                break;
            }
            bytes += n;
            count -= static_cast<size_t>(n);
        }
    }
    bool failed() const { return failed_; }

private:
    int fd_;
    bool failed_ = false;
};

// A regular file is mapped window by window instead of copied into a buffer: the coder reads
// the page cache directly, and only one window is mapped at a time, so memory stays flat.
template <typename Codec>
bool codeMappedFile(int fd, Codec& codec, DescriptorSink& sink) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return false;
    off_t start = lseek(fd, 0, SEEK_CUR);
    if (start < 0) return false;
    const off_t page = sysconf(_SC_PAGESIZE);
    for (off_t at = start; at < st.st_size && !sink.failed();) {
        off_t base = at - at % page;
        size_t length = static_cast<size_t>(std::min<off_t>(kWindow, st.st_size - base));
        void* map = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, base);
        if (map == MAP_FAILED) return lseek(fd, at, SEEK_SET), false;  // the rest is read
        codec.put(static_cast<const char*>(map) + (at - base), length - static_cast<size_t>(at - base));
        munmap(map, length);
        at = base + static_cast<off_t>(length);
    }
    lseek(fd, st.st_size, SEEK_SET);
    return true;
}

template <typename Codec>
int runFilter(std::FILE* in, std::FILE* out, const char* what) {
    std::fflush(out);
    DescriptorSink sink(fileno(out));
    Codec codec(sink);
    std::vector<char> block(kBlock);
    int fd = fileno(in);
    codeMappedFile(fd, codec, sink);  // what is left (all of a pipe) is read
    while (!sink.failed()) {
        ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            std::fprintf(stderr, "%s: read error: %s\n", what, std::strerror(errno));
            return 1;
        }
        if (n == 0) break;
        codec.put(block.data(), static_cast<size_t>(n));
        if (sink.failed()) break;
    }
    codec.finish();
    if (sink.failed()) {
        std::fprintf(stderr, "%s: write error: %s\n", what, std::strerror(errno));
        return 1;
    }
    return 0;
}

struct Encoder : Base64Encoder {
    explicit Encoder(ByteSink& sink) : Base64Encoder(sink, 76) {}
};
struct Decoder : Base64Decoder {
    explicit Decoder(ByteSink& sink) : Base64Decoder(sink) {}
};

}  // namespace

int encodeBase64Filter(std::FILE* in, std::FILE* out) { return runFilter<Encoder>(in, out, "base64 encode"); }

int decodeBase64Filter(std::FILE* in, std::FILE* out) { return runFilter<Decoder>(in, out, "base64 decode"); }

}  // namespace qarvel
