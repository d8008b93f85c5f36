// Arbitrary text through the base64 decoder in uneven pieces (every character outside the
// alphabet is skipped), and arbitrary bytes through the encoder and back: the round trip must
// give the bytes again.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/base64.h"

using namespace qarvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    const char* text = reinterpret_cast<const char*>(data);
    StringSink decoded;
    Base64Decoder decoder(decoded);
    size_t step = size ? data[0] % 7 + 1 : 1;
    for (size_t at = 0; at < size; at += step) decoder.put(text + at, size - at < step ? size - at : step);
    decoder.finish();
    if (decoded.text.size() > size) __builtin_trap();

    for (int lineLength : {0, 76}) {
        StringSink encoded;
        Base64Encoder encoder(encoded, lineLength);
        for (size_t at = 0; at < size; at += step) encoder.put(data + at, size - at < step ? size - at : step);
        encoder.finish();
        StringSink back;
        Base64Decoder again(back);
        again.put(encoded.text.data(), encoded.text.size());
        again.finish();
        if (back.text.size() != size || std::memcmp(back.text.data(), data, size) != 0) __builtin_trap();
    }
    return 0;
}
