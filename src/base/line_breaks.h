// Line breaks in text that ends up in a header line or a protocol command. A header value or
// a command argument is one line; a CR or LF inside it would start a header field or a
// command that nobody wrote. These helpers find such breaks, blank them out, and format
// printf-style text in which only the format itself may break a line.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "base/string.h"

namespace qarvel {

// True when the text holds a CR or an LF.
bool holdsLineBreak(std::string_view text);

// The text with each CR and each LF replaced by a blank (for text taken from a received
// message: it still says what it said, on one line).
String blankLineBreaks(std::string_view text);
void blankLineBreaksInPlace(std::string& text);

// printf-style formatting where every CR and LF that a %s or %c argument brings becomes a
// blank; the line ends written in the format stay. Appends to `out`. Returns false for a
// conversion it does not know (and for %n), leaving `out` unspecified.
bool formatOneLinePerFormat(std::string& out, const char* format, va_list args);

// An extra header text (-hdr:, HDR, a part header): every line must be a header field
// ("Name: value", the name printable ASCII without blanks) or a folded continuation (a line
// that begins with a blank or a tab after a field). An empty line would end the header early.
// Lines may end in CR LF, LF or CR. Returns an empty text when the block is well formed, else
// what is wrong with it.
std::string headerBlockFault(std::string_view block);

}  // namespace qarvel
