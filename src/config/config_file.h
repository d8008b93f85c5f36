// The configuration file: lines of a key and a value that set the same settings as the
// command line. The early pass (every run, whenever the file exists) takes PROXY_HOST,
// PROXY_PORT and METER; the main pass (only when -config or -config: asked for it) takes
// every other key, and hands lines that match no key to the label table.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "base/string.h"

namespace qarvel {

struct Settings;
struct ProcessObjects;

// Both passes read the file under the rule for settings files (src/config/user_file.h) and
// return 1 when it was read, 0 when there is none or it could not be opened (errno says why),
// -1 when it was refused: then nothing of it is applied and the complaint goes to err.
int readConfigEarly(const String& path, Settings& s, ProcessObjects& objects, std::FILE* err = stderr);
// The main pass. A file that holds a secret (PASS, BINDPWD) that group or others may read is
// refused too.
int readConfigMain(const String& path, Settings& s, ProcessObjects& objects, std::FILE* err = stderr);

// Applies one line of the main pass: the first key of the table that begins the line
// handles it; a line that matches none goes to the label table. Returns 1 when a
// configuration key took the line.
int applyConfigLine(const char* line, Settings& s, ProcessObjects& objects);

// Every key of both passes, as the table writes it ("SMTP_HOST", "A ").
std::vector<std::string> configKeyNames();

} // namespace qarvel
