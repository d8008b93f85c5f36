// RFC 2047 encoded words in header text: encoding in the Q form, decoding of both forms.
#pragma once

#include "base/string.h"

namespace qarvel {

// Returns the text unchanged unless enabled and some byte is above 127; then one encoded word
// "=?charset?Q?...?=" (with stopAtAngle, an address from "<" on follows the word unencoded).
String encodeWord(const String& charset, bool enabled, const String& text, bool stopAtAngle);

// Decodes every encoded word of the text; the charset of the last word goes to *charset
// (when given). Text without words comes back with its trailing spaces removed; a malformed
// word returns the whole input unchanged. No charset conversion takes place.
String decodeEncodedWords(const String& text, String* charset = nullptr);

}  // namespace qarvel
