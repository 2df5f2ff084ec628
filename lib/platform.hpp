// The few things the programs ask of the operating system that POSIX and
// Windows answer differently. Each has both forms behind one function.
#pragma once

#include <cstdio>

// Opens the null device on each of standard input, output and error that is
// not open, so that no file the program opens later takes its place and
// receives console text. When that cannot be done, reports "can't open null
// device" and answers false: the program must then stop.
bool secure_standard_streams();

// True when the program started without a standard output that could be
// given the null device: a Windows C runtime that keeps such a stream apart
// from every descriptor and cannot reopen it. Nothing can take its place,
// and what is written to it goes nowhere, as to the null device; the failed
// writes lose nothing.
bool standard_output_discarded();

// True when both streams write to the same stored file or pipe: the same
// device and inode (on Windows, the same volume and file index). Character
// devices such as the null device or a terminal never count: two streams
// on them cannot overwrite each other's bytes.
bool same_file(std::FILE* a, std::FILE* b);
