#include "report.hpp"

#include <cstdio>

#include "platform.hpp"

void report_error(const char* text) { std::fprintf(stderr, "## ERROR: %s\n", text); }

int finish_standard_output(int status) {
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
    if (standard_output_discarded()) return status;
    report_error("can't write standard output");
    return 1;
}
