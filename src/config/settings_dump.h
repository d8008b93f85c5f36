// A debugging aid: every field of the settings record as "name=value" lines, so that a user
// or a test can see what a command line and a configuration file produced. The entry writes
// it to standard error after the command line was read when QARVEL_DUMP_SETTINGS is set.
#pragma once

#include <cstdio>

namespace qarvel {

struct Settings;

void dumpSettings(const Settings& s, std::FILE* out);

} // namespace qarvel
