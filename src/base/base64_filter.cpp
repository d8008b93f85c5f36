// The -encode:base64 and -decode:base64 filters, standard input to standard output.
#include "base/base64_filter.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/base64.h"

namespace qarvel {

namespace {

// 64 KiB reads: a block this size is still in the cache when the coder reads it. Larger reads
// and mapping the file measured slower. A multiple of 57 is not needed: the encoder keeps state.
constexpr size_t kBlock = 1 << 16;

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

template <typename Codec>
int runFilter(std::FILE* in, std::FILE* out, const char* what) {
    std::fflush(out);
    DescriptorSink sink(fileno(out));
    Codec codec(sink);
    std::vector<char> block(kBlock);
    int fd = fileno(in);
    for (;;) {
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
