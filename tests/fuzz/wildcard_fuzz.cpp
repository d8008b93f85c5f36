// The input split at its first NUL into a pattern and a text, matched in both sets with and
// without case and capture; the capture never outgrows the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/wildcard.h"

using namespace qarvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 14) return 0;
    std::string all(reinterpret_cast<const char*>(data), size);
    size_t cut = all.find('\0');
    std::string pattern = all.substr(0, cut);
    std::string text = cut == std::string::npos ? std::string() : all.substr(cut + 1);
    text = text.substr(0, strnlen(text.c_str(), text.size()));
    for (int mode = 0; mode < 4; ++mode) {
        std::vector<char> capture(text.size() + 1, '\x7f');
        wildcardMatch(text.c_str(), pattern.c_str(), mode & 1, mode & 2, capture.data());
        if (std::memchr(capture.data(), '\0', capture.size()) == nullptr) __builtin_trap();
    }
    wildcardMatch(nullptr, pattern.c_str(), true, false, nullptr);
    wildcardMatch(text.c_str(), nullptr, true, false, nullptr);
    return 0;
}
