// The -strict check: an argument that is no option, or a configuration line whose first word
// is no key, ends the run before anything is sent or read.
#pragma once

#include <string>

#include "base/string.h"

namespace qarvel {

// The exit status of a run refused by the check.
constexpr int kStrictRefusal = 64;

// True when the check is asked for: "-strict" on the command line, QARVEL_STRICT=1 in the
// environment, or a STRICT line in the configuration file (read only when the run reads it).
bool strictRequested(int argc, char** argv, const String& configFile, bool configRead);

// "Unknown option: ARG" for the first argument that matches no option, else empty. The
// arguments after -xml are the XML command's own and are not looked at.
std::string unknownOption(int argc, char** argv);

// "FILE:LINE: unknown key WORD" for the first line of the file whose first word is neither a
// key nor a label, compared as a whole word without regard to case, else empty. Empty lines
// and lines that begin with "#" are comments here.
std::string unknownConfigKey(const String& configFile);

}  // namespace qarvel
