// Feeds arbitrary bytes to htmlToText: it must end, stay in bounds and never grow without
// limit (the text is at most a small multiple of the HTML).
#include <cstddef>
#include <cstdint>

#include "send/html_to_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    qarvel::String text = qarvel::htmlToText(reinterpret_cast<const char*>(data), size);
    // The largest expansion is "<hr>": 4 bytes give 76 characters.
    if (text.length() > size * 20 + 16) __builtin_trap();
    return 0;
}
