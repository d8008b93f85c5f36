// The program entry: settings layers, tools, the choice of driver, repetition and exit codes.
#pragma once

namespace qarvel {

int runProgram(int argc, char** argv);

} // namespace qarvel
