// Every line the programs write to standard error has its prefix here:
// "## ERROR: ", "## WARNING: ", the bundler's two usage lines and the
// "open failed: " line with the system's reason. The check of standard
// output that ends every run is here too.
#pragma once

// One error line: "## ERROR: <text>".
void report_error(const char* text);

// One warning line: "## WARNING: <text>".
void report_warning(const char* text);

// The bundler's usage message: "## <message>", then the usage line with the
// program name as invoked.
void report_usage(const char* program, const char* message);

// "open failed: <the system's text for error>", for a file that could not
// be opened or created.
void report_open_failure(int error);

// Texts that both programs report.
inline constexpr const char* CANT_READ_ICONDIR = "can't read ICONDIR";

// Flushes standard output. When that or any earlier write to it failed, the
// listing is lost: reports it and answers 1; otherwise answers `status`.
int finish_standard_output(int status);
