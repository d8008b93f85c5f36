// Text between character sets: the UTF-8 test, and conversions through the C library's iconv.
#pragma once

#include <string>
#include <string_view>

namespace qarvel {

// True when no byte is above 127.
bool isAscii(std::string_view text);

// True when the text is well-formed UTF-8: no stray or missing continuation bytes, no
// overlong forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(std::string_view text);

// Converts text from one charset to another (names as iconv knows them). A byte sequence the
// source charset does not define becomes U+FFFD in UTF-8 output and "?" in any other; a
// character the target cannot hold is transliterated or becomes "?". False, with out
// untouched, when iconv knows one of the names not.
bool convertText(std::string_view text, const char* from, const char* to, std::string& out);

// A message text in its declared charset (from a Content-Type or an encoded word) as UTF-8,
// for showing it. Text that is valid UTF-8 stays as it is when the charset is empty, us-ascii,
// utf-8 or unknown; other text of such a charset is read as Windows-1252, which holds
// ISO-8859-1's printable characters, as browsers read both.
std::string textAsUtf8(std::string_view text, std::string_view charset);

// The charset of the locale the environment names for LC_CTYPE (LC_ALL, LC_CTYPE, LANG),
// as nl_langinfo gives it; "ANSI_X3.4-1968" under the C locale.
std::string localeCharset();

// UTF-8 text in the given charset (the locale's for a terminal); unchanged for UTF-8.
std::string utf8As(std::string_view text, const std::string& charset);

}  // namespace qarvel
