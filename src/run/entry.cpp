#include "run/entry.h"

#include <cstdio>

namespace qarvel {

int runProgram(int argc, char** /*argv*/) {
    if (argc < 2) return 1;
    return 0;
}

} // namespace qarvel
