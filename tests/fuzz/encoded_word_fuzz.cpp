// Arbitrary header text through the encoded-word decoder (Q and B words, cut-off words, "=?"
// at the end) and the encoder; the decoder's result is never longer than its input.
#include <cstddef>
#include <cstdint>

#include "base/encoded_word.h"

using namespace qarvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 18) return 0;
    String text(reinterpret_cast<const char*>(data), size);
    String charset;
    String decoded = decodeEncodedWords(text, &charset);
    if (decoded.length() > text.length()) __builtin_trap();
    String encoded = encodeWord("utf-8", true, text, size && data[0] & 1);
    decodeEncodedWords(encoded, &charset);
    return 0;
}
