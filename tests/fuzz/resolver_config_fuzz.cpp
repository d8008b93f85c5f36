// Arbitrary text as the resolver configuration file: no crash, and every name it gives is one
// non-empty word of at most 255 bytes (the width the reader allows), whatever the lines hold.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "net/dns_discovery.h"

using namespace qarvel;

namespace {

bool oneWord(const String& name) {
    if (name.empty() || name.length() > 255) return false;
    for (size_t i = 0; i < name.length(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == 0 || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') return false;
    }
    return true;
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    // fmemopen refuses an empty buffer: keep one byte more than the input.
    std::vector<char> text(data, data + size);
    text.push_back('\n');
    std::unique_ptr<FILE, FileCloser> config(fmemopen(text.data(), text.size(), "r"));
    if (!config) return 0;
    String primary, secondary, domain;
    findDnsServersIn(config.get(), "mail.host.test", primary, secondary, domain);
    if (!oneWord(primary) || !oneWord(domain)) __builtin_trap();
    if (!secondary.empty() && !oneWord(secondary)) __builtin_trap();
    return 0;
}
