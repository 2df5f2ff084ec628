// Two-pass bundling of icon files into one.
//
// The scan pass opens every input, checks every image and lists the accepted
// ones on standard output; problems go to standard error. Between the passes
// the output receives its ICONDIR and a zero-filled directory for the
// accepted count. The copy pass opens every input again, makes the same
// checks and copies each accepted image behind the previous one, keeping its
// entry; the directory is then written over the zeros and a summary printed.
#pragma once

#include <cstdio>

// The argument vector: position 0 the program name, 1..input count the
// input paths. Set by the entry point before bundling.
// The program's one piece of global state, by design: the walk reaches its
// inputs through it.
extern char** program_argv;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

// Merges inputs 1..input_count into `output` (open for binary writing,
// empty, owned and closed by the caller). Answers 1 on success, 0 on failure.
int bundle_icons(int input_count, std::FILE* output);

// Opens the input at `position` for binary reading and echoes its path on
// standard output; on failure writes "open failed: <reason>" to standard
// error and answers nullptr.
std::FILE* open_input(int position);

// Writes `text` and a newline to standard output.
void print_line(const char* text);
