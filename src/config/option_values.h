// The numbers and the disconnect string of options and keys (their unquoting is in base/text.h).
#pragma once

#include "base/string.h"
#include "base/text.h"

namespace qarvel {

// An optional sign and leading decimal digits; anything else gives 0.
int readNumber(const char* text);

// "/disconnect" is appended (after a blank) to a disconnect string that does not hold it,
// compared without regard to case.
String withDisconnectSwitch(const String& value);

} // namespace qarvel
