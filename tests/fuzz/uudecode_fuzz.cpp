// The first line of the input is the begin line (names of any length), the rest data lines,
// decoded with and without dot-stuffing; output is at most 45 bytes per line.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/uucode.h"

using namespace qarvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    const char* text = reinterpret_cast<const char*>(data);
    const char* end = text + size;
    const char* nl = static_cast<const char*>(std::memchr(text, '\n', size));
    const char* first = nl ? nl : end;
    String begin(text, static_cast<size_t>(first - text));
    isUuBeginLine(text, static_cast<size_t>(first - text));
    for (bool dots : {false, true}) {
        StringSink out;
        UuDecoder decoder(begin, out, dots);
        if (decoder.fileName().length() > 255) __builtin_trap();
        size_t lines = 0;
        for (const char* p = nl ? nl + 1 : end; p < end;) {
            const char* e = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!e) e = end;
            decoder.decodeLine(p, static_cast<size_t>(e - p));
            ++lines;
            p = e + 1;
        }
        if (out.text.size() > lines * 63) __builtin_trap();
    }
    return 0;
}
