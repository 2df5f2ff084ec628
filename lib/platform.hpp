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

// Whether the user may write the existing file at `path`: its permissions
// allow it for the effective user (root, who may write anything, only when
// some write bit is set), and on Windows it is not read-only. An output is
// replaced without being written to, but one the user may not write is
// treated as protected.
bool may_write(const char* path);

// An output written beside the file it replaces and put in its place only
// when complete, so that a failed or killed run leaves the previous file as
// it was.
struct replacement {
    std::FILE* stream = nullptr;  // open for binary writing
    std::string target;           // the file replaced: the path, its symbolic links followed
    std::string temporary;        // the file written, in target's folder
};

enum class create_status { created, failed, owner_not_kept };

// Follows `path`'s symbolic links to the file they name (a link that leads
// nowhere names the file it would create), and makes a new file in that
// file's folder, named after it with a suffix no other file has. The file
// is created with mode 0600 and, before anything is written, given the
// permission bits (the set-id and sticky bits aside), owner and group of
// the file it replaces, or for a new output the bits the umask leaves of
// 0666. owner_not_kept, with nothing left behind, when the owner or group
// would change and cannot be kept; failed, with errno set, when the file
// cannot be made. Until replace_with or give_up, a signal that ends the
// program removes it first (remove_on_signal).
create_status create_beside(const char* path, replacement& out);

// Flushes the stream to the disk, closes it and renames the temporary file
// over the target in one step: a reader finds the old file or the new one,
// never a mix; symbolic links to the target stay. On POSIX systems the
// folder is then written to the disk as well, so that the rename survives a
// crash. On failure removes the temporary file (if the rename has not yet
// happened) and answers false with errno set.
bool replace_with(replacement& out);

// Closes and removes the temporary file of an output that is given up.
void give_up(replacement& out);

// From remove_on_signal until keep_on_signal, SIGINT, SIGTERM and SIGHUP
// (on Windows, a console's Ctrl+C, Ctrl+Break and close) remove the file at
// `path`, then end the program as the signal would have: the default action,
// re-raised. A signal that was ignored when the program started stays
// ignored. SIGKILL cannot be caught: it leaves the file behind.
void remove_on_signal(const std::string& path);
void keep_on_signal();

// A shared library loaded when first needed rather than at every start: the
// handle of the library named (a file name the system's loader searches
// for), or null when it cannot be loaded; and the address of one of its
// functions (or of the libraries it loaded), or null. Loaded libraries
// stay loaded. A build that loads none (ICON_LOAD_LIBRARIES not set on
// POSIX systems) answers null.
void* load_library(const char* name);
void* library_function(void* library, const char* name);
