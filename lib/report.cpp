#include "report.hpp"

#include <cerrno>
#include <cstdio>

#include "platform.hpp"

void report_error(const char* text) { std::fprintf(stderr, "## ERROR: %s\n", text); }

void report_warning(const char* text) { std::fprintf(stderr, "## WARNING: %s\n", text); }

void report_usage(const char* program, const char* message) {
    std::fprintf(stderr, "## %s\n## usage: %s -o outputfile inputfile(s)\n", message, program);
}

void report_open_failure(int error) {
    errno = error;
    std::perror("open failed");
}

int finish_standard_output(int status) {
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
    if (standard_output_discarded()) return status;
    report_error("can't write standard output");
    return 1;
}
