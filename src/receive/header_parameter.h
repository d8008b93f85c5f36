// Parameters of structured header values (Content-Type, Content-Disposition): plain and
// quoted values, and the RFC 2231 forms, percent-encoded in a charset and cut into numbered
// sections, joined and turned into UTF-8.
#pragma once

#include "base/string.h"

namespace qarvel {

// The longest parameter value kept (bytes).
constexpr size_t kParameterMax = 255;

// The value of the parameter `name` after a ";" of a header value: name="v" or name=v (name =
// with a blank too), or the RFC 2231 forms name*=charset'language'%XX.. and the sections
// name*0*=, name*1=, .. joined in the order of their numbers up to the first gap. An extended
// value comes back as UTF-8 (as its bytes when iconv does not know its charset) and wins over
// a plain one; *extended (when given) tells which was taken. The value stops at CR or LF, is
// at most kParameterMax bytes and is cut between characters. Empty when absent.
String headerParameter(const String& value, const char* name, bool* extended = nullptr);

// The boundary of a multipart Content-Type value: "boundary=" or "boundary =", an optional
// extra "=", blanks, then a quoted text or a text up to a blank or ";"; at most 255 bytes.
String boundaryOf(const String& value);

}  // namespace qarvel
