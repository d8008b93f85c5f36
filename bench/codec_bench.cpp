// Codec benchmark driver.
//   codec_bench encode|decode      stdin to stdout through the base64 filters
//   codec_bench lib MIB [KERNEL]   library Base64Encoder/Base64Decoder on MIB of data in memory,
//                                  median of 5 runs each; prints "name,MiB/s" lines; KERNEL is
//                                  scalar, ssse3 or avx2 (default: the best this processor runs)
#include <algorithm>
#include <utility>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/base64.h"
#include "base/base64_filter.h"
#include "base/base64_kernels.h"

using namespace qarvel;

namespace {

class CountingSink : public ByteSink {
public:
    void write(const char* bytes, size_t count) override {
        total += count;
        if (count) last ^= static_cast<unsigned char>(bytes[count - 1]);
    }
    size_t total = 0;
    unsigned last = 0;
};

// Collects the encoded text once, so the decode runs have real input.
class VectorSink : public ByteSink {
public:
    void write(const char* bytes, size_t count) override { data.insert(data.end(), bytes, bytes + count); }
    std::vector<char> data;
};

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int runLibrary(size_t mib) {
    size_t bytes = mib << 20;
    std::vector<unsigned char> input(bytes);
    unsigned state = 12345;
    for (auto& b : input) b = static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 24);
    VectorSink encoded;
    encoded.data.reserve(bytes / 57 * 78 + 100);
    {
        Base64Encoder enc(encoded, 76);
        enc.put(input.data(), input.size());
        enc.finish();
    }
    std::vector<double> encodeTimes, decodeTimes;
    unsigned guard = 0;
    for (int run = 0; run < 5; ++run) {
        CountingSink sink;
        auto t0 = std::chrono::steady_clock::now();
        Base64Encoder enc(sink, 76);
        // Fed in 64 KiB pieces, the way the filters and the composer feed it.
        for (size_t at = 0; at < bytes; at += 65536) enc.put(input.data() + at, std::min<size_t>(65536, bytes - at));
        enc.finish();
        auto t1 = std::chrono::steady_clock::now();
        encodeTimes.push_back(seconds(t0, t1));
        guard ^= sink.last;
    }
    for (int run = 0; run < 5; ++run) {
        CountingSink sink;
        auto t0 = std::chrono::steady_clock::now();
        Base64Decoder dec(sink);
        size_t n = encoded.data.size();
        for (size_t at = 0; at < n; at += 65536) dec.put(encoded.data.data() + at, std::min<size_t>(65536, n - at));
        dec.finish();
        auto t1 = std::chrono::steady_clock::now();
        decodeTimes.push_back(seconds(t0, t1));
        if (sink.total < bytes) {
            std::fprintf(stderr, "codec_bench: decode gave %zu bytes, expected %zu\n", sink.total, bytes);
            return 1;
        }
        guard ^= sink.last;
    }
    // The rate at the median, then the fastest, median and slowest run in seconds.
    for (auto [what, times] : {std::pair{"encode", &encodeTimes}, std::pair{"decode", &decodeTimes}}) {
        std::sort(times->begin(), times->end());
        std::printf("library-%s,%.1f,%.4f,%.4f,%.4f\n", what, static_cast<double>(mib) / median(*times), times->front(),
                    median(*times), times->back());
    }
    std::fprintf(stderr, "guard %u\nkernel %s\n", guard, base64KernelName(base64Kernel()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "encode") == 0) return encodeBase64Filter(stdin, stdout);
    if (argc >= 2 && std::strcmp(argv[1], "decode") == 0) return decodeBase64Filter(stdin, stdout);
    if (argc >= 3 && std::strcmp(argv[1], "lib") == 0) {
        if (argc >= 4) {
            bool known = false;
            for (Base64Kernel k : {Base64Kernel::kScalar, Base64Kernel::kSsse3, Base64Kernel::kAvx2})
                if (std::strcmp(argv[3], base64KernelName(k)) == 0) known = setBase64Kernel(k);
            if (!known) {
                std::fprintf(stderr, "codec_bench: kernel %s is unknown or not run by this processor\n", argv[3]);
                return 1;
            }
        }
        return runLibrary(std::strtoul(argv[2], nullptr, 10));
    }
    std::fprintf(stderr, "usage: codec_bench encode|decode < in > out, or codec_bench lib MIB [scalar|ssse3|avx2]\n");
    return 1;
}
