// Small text tests every floor shares: prefixes and words without regard to case, the two kinds
// of blank, and how an option or file value is unquoted.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/string.h"

namespace qarvel {

bool startsWith(std::string_view text, std::string_view prefix);
bool startsWithNoCase(std::string_view text, std::string_view prefix);
// The first place of word in text without regard to ASCII case, or npos.
size_t findNoCase(std::string_view text, std::string_view word);
inline bool containsNoCase(std::string_view text, std::string_view word) {
    return findNoCase(text, word) != std::string_view::npos;
}
bool endsWithNoCase(std::string_view text, std::string_view tail);
// The same search over a NUL-ended line, giving the place itself (or null), for the reply
// readers that go on reading from it.
const char* locateNoCase(const char* text, const char* word);

// A blank inside a line: space or tab.
inline bool isBlank(char c) { return c == ' ' || c == '\t'; }
// White space of the C locale: blanks, the line ends, form feed and vertical tab.
inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
// The text without its leading blanks, its trailing blanks, or both.
std::string_view skipBlanks(std::string_view text);
std::string_view trimTrailingBlanks(std::string_view text);
inline std::string_view trimBlanks(std::string_view text) { return trimTrailingBlanks(skipBlanks(text)); }

// How a value from the command line, the configuration file or a batch file becomes a
// setting: trailing blanks go, one pair of surrounding double quotes goes, and backslash
// escapes are turned into control characters according to the escape mode.
enum EscapeMode {
    kEscapesKept = 0,     // backslashes stay as written
    kEscapesAll = 1,      // \r \n \t become CR LF TAB, a backslash before anything else goes
    kEscapesControl = 2,  // \r \n \t become CR LF TAB, other backslashes stay
};

String unquoteValue(const char* value, int escapeMode = kEscapesKept);

} // namespace qarvel
