// qarvel-news: the program with news mode switched on after the command line, as a web request
// that asks for news posting does. Lets the tests and the benchmark post articles from a
// command line without a web server in between.
#include "run/entry.h"

int main(int argc, char** argv) { return qarvel::runNewsProgram(argc, argv); }
