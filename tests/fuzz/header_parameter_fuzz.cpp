// Hostile Content-Type and Content-Disposition values through the parameter reader, with the
// RFC 2231 sections and charsets: the value stays within its limit, a value converted to UTF-8
// is cut between characters, and the file name made of it never leaves its folder.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/charset.h"
#include "receive/header_parameter.h"
#include "receive/attachment_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qarvel;
    if (size < 1 || size > 1 << 14) return 0;
    static const char* const kNames[] = {"filename", "name", "charset", "boundary"};
    const char* name = kNames[data[0] & 3];
    const String value(reinterpret_cast<const char*>(data + 1), size - 1);
    bool extended = false;
    const String text = headerParameter(value, name, &extended);
    if (text.length() > kParameterMax) __builtin_trap();
    // A value in UTF-8 is cut between characters: a UTF-8 charset and an input of whole
    // characters give whole characters.
    if (extended && value.find("utf-8''") != String::npos && value.find('%') == String::npos &&
        isUtf8(value.view()) && !isUtf8(text.view()))
        __builtin_trap();
    const String file = attachmentFileName(text);
    if (file == "." || file == ".." || file.find('/') != String::npos || file.find('\\') != String::npos)
        __builtin_trap();
    if (boundaryOf(value).length() > kParameterMax) __builtin_trap();
    return 0;
}
