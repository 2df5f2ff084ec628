#include "command_line.hpp"

int main(int argc, char** argv) { return extract_main(argc, argv); }

#ifdef _WIN32
// No shell expands wildcards on Windows: with this set, the C runtime's
// start-up does, so that `*.ico` names every match.
extern "C" int _dowildcard;
int _dowildcard = -1;
#endif
