// Quoted-printable (RFC 2045): encoding in body mode (soft line breaks keep lines within 76
// characters) or header mode (no line breaks; space, tab, "?" and "_" escaped), and in-place
// decoding.
#pragma once

#include <cstddef>

#include "base/string.h"

namespace qarvel {

// The value of one hexadecimal digit (either case), or -1 for any other character.
int hexDigitValue(char c);

// Encodes length bytes of text. With stopAtAngle, encoding ends at the first "<" and the text
// from there on is returned unencoded through rest (when rest is given). With crlf (for text
// that goes into a mail data stream) every line end is written as CR LF and a CR that is not
// part of one is encoded, so the output holds no bare CR or LF.
String quotedPrintableEncode(const char* text, size_t length, bool headerMode, bool stopAtAngle,
                             String* rest, bool crlf = false);

// Decodes in place and NUL-terminates (the buffer must hold length + 1 bytes); returns the new
// length. Bad hexadecimal digits count as 0; an escape cut off by the end decodes what is there.
size_t quotedPrintableDecode(char* buffer, size_t length);

}  // namespace qarvel
