// icon-lint: checks icon files for what keeps Windows, the browsers, GNOME
// and Qt from showing them as intended, and reports each finding one a line
// (text in the form compilers use, JSON objects, or GitHub workflow
// commands) or as one SARIF log; or, with --readers, which image each
// reader shows.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "file_checks.hpp"
#include "json_text.hpp"

enum class output_format { text, json, sarif, github };

struct lint_command {
    output_format format = output_format::text;
    lint_options options;
    std::vector<std::string> files;
    std::vector<std::string> ignored;    // check ids never reported
    severity least = severity::note;     // findings below this severity are not reported
    severity fail_at = severity::error;  // a reported finding of this severity or above fails the run
    bool readers = false;                // tables of the readers' choices instead of findings
};

// A check's id and what it is about, as SARIF's rules and --ignore know it.
struct check_info {
    const char* id;
    const char* summary;
};

// Every check icon-lint makes, in the order of the manual page.
const std::vector<check_info>& lint_checks();

// The lines of one file's report, in `format` (text or JSON), ending in
// '\n'; nothing for a file without findings. Text lines show the path as
// escaped_name does.
std::string format_report(const std::string& path, const file_report& report, output_format format);

// The readers' choices for one file: a table, or one JSON object.
std::string format_readers(const std::string& path, const file_report& report, output_format format);

// `text` for a GitHub workflow command: as a message (`property` false) or
// as the value of a property such as file= or title=.
std::string github_escape(const std::string& text, bool property);

// A path as a relative URI reference, for SARIF: each byte outside the
// unreserved characters and "/" percent-encoded; "\" read as "/".
std::string uri_of(const std::string& path);

// What a run has written so far.
struct run_state {
    long counts[3] = {};  // reported findings of each severity (error, warning, note)
    long results = 0;     // SARIF results written, for their separating commas
};

// Lints one file and writes its findings to standard output as they are
// made: 0 when no reported finding reaches the failing severity, 1 when one
// does, 2 when it cannot be opened or read (reported on standard error,
// after the findings made until then).
int lint_file(const std::string& path, const lint_command& command, run_state& state);

// The whole program.
int lint_main(int argc, char** argv);
