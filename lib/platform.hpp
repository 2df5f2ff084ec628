// The few things the programs ask of the operating system that POSIX and
// Windows answer differently. Each has both forms behind one function.
#pragma once

#include <cstdio>
#include <string>

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

// What a path names now, for an output that must be a regular file or
// nothing yet.
enum class path_kind { missing, regular_file, directory, other };
path_kind kind_of_path(const char* path);

// An output written beside its final path and put in its place only when
// complete, so that a failed or killed run leaves the previous file as it
// was. create_beside makes a new file in `path`'s folder, named `path` and a
// suffix no other file has (stored in `temporary`), open for binary writing,
// with the permission bits of the file at `path` when there is one. Answers
// null with errno set when it cannot.
std::FILE* create_beside(const char* path, std::string& temporary);

// Flushes `stream` (from create_beside) to the disk, closes it and renames
// its file over `path` in one step: a reader finds the old file or the new
// one, never a mix. On failure removes the temporary file and answers false
// with errno set.
bool replace_with(std::FILE* stream, const std::string& temporary, const char* path);
