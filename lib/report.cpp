#include "report.hpp"

#include <cstdio>

void report_error(const char* text) { std::fprintf(stderr, "## ERROR: %s\n", text); }
