// icon-lint: checks icon files for what keeps Windows and the browsers from
// showing them as intended, and reports each finding
// one a line, as text in the form compilers use or as JSON objects.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "file_checks.hpp"
#include "json_text.hpp"

enum class output_format { text, json };

struct lint_command {
    output_format format = output_format::text;
    lint_options options;
    std::vector<std::string> files;
};

// The lines of one file's report, in `format`, ending in '\n'; nothing for a
// file without findings. Text lines show the path as escaped_name does.
std::string format_report(const std::string& path, const file_report& report, output_format format);

// Lints one file and writes its findings to standard output as they are
// made: 0 when it has no error, 1 when it has, 2 when it cannot be opened or
// read (reported on standard error, after the findings made until then).
int lint_file(const std::string& path, const lint_command& command);

// The whole program.
int lint_main(int argc, char** argv);
