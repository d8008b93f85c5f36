// Arbitrary header text through the encoded-word decoder (Q and B words, cut-off words, "=?"
// at the end) and the encoder; the decoder's result is never longer than its input, and text
// with a byte above 127 encoded as one word decodes back to itself.
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
    // The round trip: a word without the "<" cut-off gives back the same bytes, less the
    // trailing blanks the decoder always trims. Text needing no word is left as it is.
    bool high = false;
    for (size_t i = 0; i < size; ++i)
        if (data[i] > 127) high = true;
    if (high) {
        size_t kept = size;
        while (kept > 0 && data[kept - 1] == ' ') --kept;
        String word = encodeWord("utf-8", true, text, false);
        if (decodeEncodedWords(word) != String(reinterpret_cast<const char*>(data), kept)) __builtin_trap();
    }
    return 0;
}
