// The few things the programs ask of the operating system that POSIX and
// Windows answer differently. Each has both forms behind one function.
#pragma once

#include <cstdint>
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

// What can be told of whether two names or streams are one stored file.
// Character devices such as the null device or a terminal never count as
// one: two streams on them cannot overwrite each other's bytes.
enum class file_match { different, same, unknown };

// Whether both streams write to the same stored file or pipe: the same
// device and inode (on Windows, the same volume and file index, or failing
// those the same final path). unknown only where a disk file's identity
// cannot be read by any means, as Windows may answer for an inherited handle.
file_match same_file(std::FILE* a, std::FILE* b);

// The same for the existing file at `path` and a stream; different when
// nothing exists at `path`, which is then not opened or changed.
file_match path_matches_stream(const char* path, std::FILE* stream);

// Who a stored file is: its device and inode, or on Windows its volume and
// file index. Hard and symbolic links to one file give one identity.
struct file_identity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const file_identity&) const = default;
};

// The identity of the file at `path`, which is not opened for reading or
// writing; false when nothing is there, or a character device.
bool identify_file(const char* path, file_identity& identity);

// The last component of `path`, a pointer into it: what follows its last
// '/', and on Windows also its last '\\' or a drive's ':' ("C:app.ico").
const char* file_name_in(const char* path);

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
