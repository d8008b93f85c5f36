// The -strict check: an argument that is no option (or an option's value that cannot be
// right), or a configuration line whose first word is no key, ends the run before anything is
// sent or read.
#pragma once

#include <string>
#include <vector>

#include "base/string.h"

namespace qarvel {

// True when the check is asked for: "-strict" on the command line, QARVEL_STRICT=1 in the
// environment, or a STRICT line in the configuration file (read only when the run reads it).
bool strictRequested(int argc, char** argv, const String& configFile, bool configRead);

// The first fault of the arguments, else empty: "Unknown option: ARG" for an argument that
// matches no option, "-a needs a value: -a:FILE" for a value option written without its colon,
// "Bad value: -tmo:0 (SECONDS: a whole number of 1 or more)" for a number option whose value
// is not a number in its range (-port: also takes a service name). The arguments after -xml are
// the XML command's own and are not looked at.
std::string unknownOption(int argc, char** argv);

// The arguments that match no option, for the warning of a run that passes them over.
std::vector<std::string> unknownOptions(int argc, char** argv);

// "FILE:LINE: unknown key WORD" for the first line of the file whose first word is neither a
// key nor a label, compared as a whole word without regard to case, else empty. Empty lines
// and lines that begin with "#" are comments here.
std::string unknownConfigKey(const String& configFile);

}  // namespace qarvel
