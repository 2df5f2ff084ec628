// Shared by the fuzz targets: failing loudly, capturing what a program writes
// to its console, and a plain model of the ICO fields to check results against.
//
// A target aborts on the first property that does not hold; libFuzzer keeps
// the input as a crash artifact, and the replay program turns it into a
// failing test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fuzz {

using bytes = std::vector<std::uint8_t>;

// Writes `what` (and `detail`) to the real standard error, then aborts.
[[noreturn]] void fail(const char* what, const std::string& detail = {});
inline void check(bool ok, const char* what) {
    if (!ok) fail(what);
}
void check_text(const std::string& got, const std::string& want, const char* what);
// The lines of a program's output, without their ends; fails on a last
// line without its end.
std::vector<std::string> lines(const std::string& text);

// printf into a std::string; MinGW's own printf family knows %zu, which the
// Windows C runtime's does not.
#ifdef __MINGW_PRINTF_FORMAT
std::string format(const char* pattern, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
#else
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
#endif

// Little-endian fields decoded byte by byte, independently of the library.
inline std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] + 256 * p[1]); }
inline std::uint32_t le32(const std::uint8_t* p) {
    return p[0] + 256u * (p[1] + 256u * (p[2] + 256u * std::uint32_t{p[3]}));
}
inline std::int32_t le32s(const std::uint8_t* p) { return static_cast<std::int32_t>(le32(p)); }

// A scratch folder of this process's own, made once (from `prefix` and a
// random number) before the first input and removed when the process ends;
// fails when none can be made.
void make_scratch_folder(const char* prefix);
const std::string& scratch_folder();

// A file written whole, and read back whole.
void write_file(const std::string& path, const bytes& data);
bytes read_file(const std::string& path);

// Entries past the end of a file all fail alike, and a random idCount would
// make most runs walk tens of thousands of them: keeps the idCount of `data`
// within 16 of what the file can hold. The ordinary tests walk 65535.
void bound_icon_count(bytes& data);

// A read-only stream over `data` (which must outlive it); never null.
std::FILE* open_bytes(bytes& data);

// A stream to write to whose bytes can be taken back: a memory stream, or on
// Windows, which has none, a temporary file.
class byte_sink {
   public:
    byte_sink();
    ~byte_sink();
    byte_sink(const byte_sink&) = delete;
    byte_sink& operator=(const byte_sink&) = delete;
    std::FILE* get() const { return stream_; }
    // Everything written so far.
    std::string text();

   private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* stream_;
};

// Sends standard output and error to byte sinks for its lifetime, so that a
// program's listing can be compared with what the model expects.
class console_capture {
   public:
    console_capture();
    ~console_capture();
    console_capture(const console_capture&) = delete;
    console_capture& operator=(const console_capture&) = delete;
    std::string out();
    std::string err();

   private:
    byte_sink out_;
    byte_sink err_;
#ifdef _WIN32
    // Descriptors 1 and 2 as they were: stdout and stderr cannot be replaced.
    int saved_descriptors_[2] = {-1, -1};
#else
    std::FILE* saved_out_;
    std::FILE* saved_err_;
#endif
};

}  // namespace fuzz
