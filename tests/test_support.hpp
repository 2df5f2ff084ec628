// Helpers shared by the tests: the bundle an independent reader expects,
// scratch folders, and running a built program with its output captured.
// Icon files themselves are built by ico_builder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ico_builder.hpp"

namespace icon_test {

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
    int status = -1;  // the exit status, or 128 + signal number
};

// Runs `program` with `args` (not counting argv[0]), with standard input
// from /dev/null and standard output and error captured apart; in folder
// `cwd` when it is not empty. `in_child` runs in the child just before the
// program starts (to set a resource limit, for example). When the
// environment holds ICON_TEST_WRAPPER, the program runs under that command.
run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::string& cwd = "", const std::function<void()>& in_child = {});

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
