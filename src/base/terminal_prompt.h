// The password prompt on the terminal: asked only when standard input is a terminal, written
// to the terminal (or standard error), read with echo off, and the terminal's mode restored on
// every way out, a signal (Ctrl-C, a kill, a hang-up) included.
#pragma once

#include "base/string.h"

namespace qarvel {

// Writes prompt to the terminal and reads one line (at most 255 characters, without its line
// end) as secret. Returns false, asking nothing, when standard input is no terminal; also at
// the end of input.
bool askSecretOnTerminal(const char* prompt, String& secret);

} // namespace qarvel
