// Values the user gave that end up in a header line or a protocol command. A line break in
// one of them would add a header field or a command that nobody meant, so the run refuses
// them before anything is sent (text taken from received mail is blanked instead, by the
// header writer and the command loop).
#pragma once

#include <cstdio>

#include "config/settings.h"

namespace qarvel {

// True when every such value is one line and the extra header text (-hdr:, HDR) is made of
// header fields; otherwise says which value is wrong on `err` and returns false.
bool userValuesFitTheirLines(const Settings& s, std::FILE* err);

}  // namespace qarvel
