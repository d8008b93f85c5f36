// How a value from the command line or the configuration file becomes a setting: trailing
// blanks go, one pair of surrounding double quotes goes, and backslash escapes are turned
// into control characters according to the option's escape mode.
#pragma once

#include "base/string.h"

namespace qarvel {

enum EscapeMode {
    kEscapesKept = 0,     // backslashes stay as written
    kEscapesAll = 1,      // \r \n \t become CR LF TAB, a backslash before anything else goes
    kEscapesControl = 2,  // \r \n \t become CR LF TAB, other backslashes stay
};

String unquoteValue(const char* value, int escapeMode = kEscapesKept);

// An optional sign and leading decimal digits; anything else gives 0.
int readNumber(const char* text);

// "/disconnect" is appended (after a blank) to a disconnect string that does not hold it,
// compared without regard to case.
String withDisconnectSwitch(const String& value);

} // namespace qarvel
