// The programs' messages on standard error, and the check of standard output
// that ends every run.
#pragma once

// One error line on standard error: "## ERROR: <text>".
void report_error(const char* text);

// Flushes standard output. When that or any earlier write to it failed, the
// listing is lost: reports "can't write standard output" and answers 1;
// otherwise answers `status`.
int finish_standard_output(int status);
