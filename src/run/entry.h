// The program entry: settings layers, tools, the choice of driver, repetition and exit codes.
#pragma once

namespace qarvel {

int runProgram(int argc, char** argv);

// runProgram with news mode switched on after the command line of every run, where a web
// request that asks for news posting switches it on: for programs that post articles without
// a web server (the integration tests and the benchmark).
int runNewsProgram(int argc, char** argv);

} // namespace qarvel
