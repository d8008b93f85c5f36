// A library peer for the in-memory base64 rows: the stringencoders library (Debian's
// libmodpbase64) on the same random data as codec_bench, with the same MIME line breaks: 57
// bytes per call into 76 characters and CR LF on encode, one call per 76-character line on
// decode (it stops at anything outside the alphabet, line ends included). Output goes to a
// 64 KiB buffer, as the library's streaming coders write theirs. Built by the bench job only:
//   g++ -O2 modp_peer.cpp -lmodpbase64;  modp_peer MIB   prints "name,MiB/s" lines
#include <modp_b64.h>

#include <algorithm>
#include <utility>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: modp_peer MIB\n");
        return 2;
    }
    size_t mib = std::strtoul(argv[1], nullptr, 10), bytes = mib << 20;
    std::vector<char> input(bytes);
    unsigned state = 12345;
    for (auto& b : input) b = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    std::vector<char> encoded;
    encoded.reserve(bytes / 57 * 78 + 100);
    char line[128];
    for (size_t at = 0; at < bytes; at += 57) {
        size_t n = modp_b64_encode(line, input.data() + at, std::min<size_t>(57, bytes - at));
        encoded.insert(encoded.end(), line, line + n);
        encoded.push_back('\r');
        encoded.push_back('\n');
    }
    std::vector<char> out(65536 + 256);
    std::vector<double> encodeTimes, decodeTimes;
    unsigned guard = 0;
    for (int run = 0; run < 5; ++run) {
        auto t0 = std::chrono::steady_clock::now();
        size_t used = 0, total = 0;
        for (size_t at = 0; at < bytes; at += 57) {
            if (used > 65536) total += used, guard ^= static_cast<unsigned char>(out[used - 1]), used = 0;
            used += modp_b64_encode(out.data() + used, input.data() + at, std::min<size_t>(57, bytes - at));
            out[used++] = '\r';
            out[used++] = '\n';
        }
        total += used;
        encodeTimes.push_back(seconds(t0, std::chrono::steady_clock::now()));
        if (total != encoded.size()) return 1;
    }
    for (int run = 0; run < 5; ++run) {
        auto t0 = std::chrono::steady_clock::now();
        size_t used = 0, total = 0;
        for (size_t at = 0; at < encoded.size(); at += 78) {
            if (used > 65536) total += used, guard ^= static_cast<unsigned char>(out[used - 1]), used = 0;
            size_t n = modp_b64_decode(out.data() + used, encoded.data() + at, std::min<size_t>(76, encoded.size() - at - 2));
            if (n == static_cast<size_t>(-1)) return 1;
            used += n;
        }
        total += used;
        decodeTimes.push_back(seconds(t0, std::chrono::steady_clock::now()));
        if (total != bytes) {
            std::fprintf(stderr, "modp_peer: decode gave %zu bytes, expected %zu\n", total, bytes);
            return 1;
        }
    }
    // The rate at the median, then the fastest, median and slowest run in seconds.
    for (auto [what, times] : {std::pair{"encode", &encodeTimes}, std::pair{"decode", &decodeTimes}}) {
        std::sort(times->begin(), times->end());
        std::printf("library-%s,%.1f,%.4f,%.4f,%.4f\n", what, static_cast<double>(mib) / median(*times), times->front(),
                    median(*times), times->back());
    }
    std::fprintf(stderr, "guard %u\n", guard);
    return 0;
}
