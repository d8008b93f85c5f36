// The command-line parser: one table of options, tested in order against every argument.
// Value options ("-to:") match by prefix and take the rest of the argument; flag options
// ("-esmtp") match only the whole argument. Case matters; an argument that matches nothing
// is ignored.
#pragma once

#include <string>
#include <vector>

namespace qarvel {

struct Settings;
struct ProcessObjects;

void parseCommandLine(int argc, char** argv, Settings& s, ProcessObjects& objects);

// The entry's early scans, made before the configuration file is read. The first one (once
// per process) takes -meter:, -free and -osver and returns 1 when -osver was seen; the second
// one (every run) takes -host:, -if:, -firewall:, -port:, -tmo:, -config:, -config, -meter:.
int scanProcessOptions(int argc, char** argv, ProcessObjects& objects, bool& detach);
void scanRunOptions(int argc, char** argv, Settings& s, ProcessObjects& objects);

// Every option name the parser and the early scans take, as written ("-to:", "-esmtp").
std::vector<std::string> optionNames();

} // namespace qarvel
