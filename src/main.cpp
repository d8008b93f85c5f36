// qarvel: the process entry. Everything it does is in run/entry.cpp.
#include "run/entry.h"

int main(int argc, char** argv) { return qarvel::runProgram(argc, argv); }
