// The program with import mode (which only a web request switches on) reachable from a
// command line, for the tests that run import batches besides the web request reader:
//   qarvel-modes [--import] OPTIONS...
// sets what a web request would set and runs the program on the remaining options.
#include <cstring>
#include <vector>

#include "config/request_modes.h"
#include "run/entry.h"

int main(int argc, char** argv) {
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--import") == 0)
            qarvel::requestModes().importMode = 1;
        else
            rest.push_back(argv[i]);
    }
    rest.push_back(nullptr);
    return qarvel::runProgram(static_cast<int>(rest.size()) - 1, rest.data());
}
