// Runs a program with arguments, given standard input and extra environment, bounded by a
// time limit (the child is killed when it runs over). For end-to-end tests of build/qarvel.
#pragma once

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace qarvel::test {

struct ProgramResult {
    int exitCode = -1;       // -1 when the child did not exit normally (signal, killed)
    bool timedOut = false;   // killed at the time limit
    std::string out, err;
    double seconds = 0;      // wall time of the run
};

struct ProgramOptions {
    std::string input;                                      // standard input
    double timeLimitSeconds = 60;
    std::vector<std::pair<std::string, std::string>> env;   // set in the child's environment
};

ProgramResult runProgram(const std::string& binary, const std::vector<std::string>& args,
                         const ProgramOptions& options = {});

#ifdef QARVEL_BINARY
// The program under test: $QARVEL_BINARY when set, else the path the build passes in.
inline std::string qarvelBinary() {
    const char* env = std::getenv("QARVEL_BINARY");
    return env && *env ? env : QARVEL_BINARY;
}
inline ProgramResult runQarvel(const std::vector<std::string>& args, const ProgramOptions& options = {}) {
    return runProgram(qarvelBinary(), args, options);
}
#endif

}  // namespace qarvel::test
