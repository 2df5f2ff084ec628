// The inspector's walk over icon files: for each file its name, a warning for
// an idType other than 1, one line per directory entry with the image header's
// main fields or a PNG marker, and an error for every bitmap image whose
// dwBytesInRes differs from the size its header implies. Listing lines go to
// standard output, warnings and errors to standard error. Nothing is rejected.
#pragma once

#include <cstdio>

// Walks one open file from its ICONDIR on; the caller owns and closes it.
void inspect_stream(std::FILE* stream);

// Opens `path`, prints its name and walks it. A path that cannot be opened
// leaves no output at all.
void inspect_file(const char* path);

// The whole program: every argument after the program name is a path.
// 0, or 1 when standard output could not be written.
int inspector_main(int argc, char** argv);
