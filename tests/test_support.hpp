// Helpers shared by the tests: the bundle an independent reader expects,
// scratch folders, and running a built program with its output captured.
// Icon files themselves are built by ico_builder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ico_builder.hpp"

namespace icon_test {

// What the programs meet differently on Windows.
#ifdef _WIN32
inline constexpr bool on_windows = true;
#else
inline constexpr bool on_windows = false;
#endif
inline const std::string null_device = on_windows ? "NUL" : "/dev/null";
// POSIX opens a folder for reading as a file that holds nothing; Windows
// refuses to open it ("Permission denied").
inline constexpr bool folders_open_as_files = !on_windows;

// One image as a bundle should carry it: its input entry's 16 bytes and the
// dwBytesInRes bytes at its offset, zero-padded where the input ends early.
struct placed {
    bytes entry;
    bytes image;
};
placed image_of(const bytes& file, std::size_t index);
// The bundle as an independent reader expects it: a header, the entries
// with offsets rewritten, then the images back to back. A directory longer
// than the images (an input changed after the scan pass) ends in zero entries.
bytes bundle_of(const std::vector<placed>& images);
bytes bundle_of(const std::vector<placed>& images, std::size_t directory);

// Reads a file whole; empty when it cannot be read.
bytes read_file(const std::string& path);
void write_file(const std::string& path, const bytes& data);
void write_file(const std::string& path, const std::string& text);

// Equal texts. A mismatch is reported by the first line that differs and
// the sizes; short texts are shown whole, never diffed: a diff of two texts
// of many thousand lines takes gigabytes.
::testing::AssertionResult same_text(const std::string& got, const std::string& want);

// A fresh folder under the test temp dir, removed with its files at the end.
class scratch_dir {
   public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes `data` to a file of that name and answers its path.
    std::string put(const std::string& name, const bytes& data) const;

   private:
    std::string path_;
};

struct run_result {
    std::string out;
    std::string err;
    // The exit status, or 128 + signal number; 127 when the program could
    // not be started.
    int status = -1;
};

// How a program is started, beyond its arguments.
// Every member has an initializer, so that designated initializers may name
// any few of them.
struct run_options {
    std::string cwd = {};       // the folder it runs in, when not empty
    int closed = -1;            // a standard stream (0, 1 or 2) it starts without
    std::string out_file = {};  // where its standard output goes, when not captured apart
    std::string err_file = {};  // the same for standard error
    bool append = false;        // out_file and err_file are appended to, as by >>, not emptied
    // A program of the machine that runs the tests, such as a peer reader:
    // started as it is, never through ICON_TEST_WRAPPER or an emulator.
    bool host_tool = false;
    // POSIX only: runs in the child just before the program starts (to set
    // a resource limit, for example).
    std::function<void()> in_child = {};
};

// The command run_program runs: `program` and `args`, under the wrapper or
// emulator the built programs run under, unless `host_tool`.
std::vector<std::string> command_of(const std::string& program, const std::vector<std::string>& args,
                                    bool host_tool = false);

// Runs `program` with `args` (not counting argv[0]), with standard input
// from the null device and standard output and error captured apart. When
// the environment holds ICON_TEST_WRAPPER, the program runs under that
// command; in a cross build for another Linux host, through its emulator.
// On Windows, where text ends its lines with CR LF, every line end must have
// its CR, and the text comes back with LF alone.
run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const run_options& options = {});

// True when the built programs run through an emulator, which takes a
// resource limit set for them as its own.
bool programs_run_emulated();

// True when the tests run as Windows programs under Wine, which opens the
// host's devices by their POSIX names (/dev/full) as Windows has none such.
bool under_wine();

// Runs the inspector `program` on `data` saved as one file, and expects the
// file's name line followed by `out` on standard output, exactly `err` on
// standard error, and exit status 0.
void expect_inspection(const std::string& program, const bytes& data, const std::string& out,
                       const std::string& err);

// An open read-only stream over a copy of `data`, closed by the destructor.
class memory_stream {
   public:
    explicit memory_stream(const bytes& data);
    ~memory_stream();
    memory_stream(const memory_stream&) = delete;
    memory_stream& operator=(const memory_stream&) = delete;
    std::FILE* get() const { return stream_; }

   private:
    bytes data_;
    std::FILE* stream_;
};

}  // namespace icon_test
