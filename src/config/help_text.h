// The --help and --version answers, with the help text kept as data: one line for every
// command-line option and every configuration key, in groups by activity.
#pragma once

#include <cstdio>
#include <span>

namespace qarvel {

// One row of help: the names it covers (one or more, separated by blanks, each exactly as
// the option or key is written), the group it is listed under, the value it takes (empty
// for a switch) and its one line.
struct HelpLine {
    const char* names;
    const char* group;
    const char* value;
    const char* text;
};

std::span<const HelpLine> optionHelp();
std::span<const HelpLine> keyHelp();

void printHelp(std::FILE* out);
void printVersion(std::FILE* out);

// For a run whose arguments ask for --help/-h or --version (never in a web request): prints
// the answer and returns the exit code 0; returns -1 for any other run.
int answerHelpRequest(int argc, char** argv);

} // namespace qarvel
