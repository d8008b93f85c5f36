// The vector base64 kernels against the scalar loops: the same bytes encoded (with and without
// line breaks, fed in uneven pieces) and the same text decoded (the input taken as base64 text
// with line ends, "=" and stray bytes anywhere) must give identical output with every kernel
// this processor runs.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/base64.h"
#include "base/base64_kernels.h"

using namespace qarvel;

namespace {

std::string encodeWith(Base64Kernel kernel, const uint8_t* data, size_t size, int lineLength, size_t step) {
    setBase64Kernel(kernel);
    StringSink out;
    Base64Encoder encoder(out, lineLength);
    for (size_t at = 0; at < size; at += step) encoder.put(data + at, size - at < step ? size - at : step);
    encoder.finish();
    return out.text;
}

std::string decodeWith(Base64Kernel kernel, const std::string& text, size_t step) {
    setBase64Kernel(kernel);
    StringSink out;
    Base64Decoder decoder(out);
    for (size_t at = 0; at < text.size(); at += step) decoder.put(text.data() + at, text.size() - at < step ? text.size() - at : step);
    decoder.finish();
    return out.text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 1 << 20) return 0;
    static const int kLines[] = {0, 76, 64, 4, 72, 100, 8, 76};
    int lineLength = kLines[data[0] & 7];
    size_t step = (data[0] >> 3) % 2 ? size : size_t(data[1]) * 37 + 1;
    data += 2;
    size -= 2;

    // Mostly valid text: the encoding of the input, with some of its bytes turned into
    // characters the decoder must skip.
    std::string text = encodeWith(Base64Kernel::kScalar, data, size, lineLength, step);
    for (size_t i = 0; i < size && i < text.size(); i += 1 + data[i] % 97)
        if (data[i] & 0x80) text[i * 7 % text.size()] = static_cast<char>(data[i]);
    std::string raw(reinterpret_cast<const char*>(data), size);

    std::string wantEncoded = text;
    std::string wantDecoded = decodeWith(Base64Kernel::kScalar, text, step);
    std::string wantRaw = decodeWith(Base64Kernel::kScalar, raw, step);
    std::string plain = encodeWith(Base64Kernel::kScalar, data, size, lineLength, step);
    for (Base64Kernel kernel : {Base64Kernel::kSsse3, Base64Kernel::kAvx2}) {
        if (!setBase64Kernel(kernel)) continue;
        if (encodeWith(kernel, data, size, lineLength, step) != plain) __builtin_trap();
        if (decodeWith(kernel, text, step) != wantDecoded) __builtin_trap();
        if (decodeWith(kernel, raw, step) != wantRaw) __builtin_trap();
    }
    setBase64Kernel(Base64Kernel::kScalar);
    return 0;
}
