#include "fuzz_support.hpp"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ico_builder.hpp"

namespace fuzz {

namespace {

// Standard error may be captured; failures go straight to descriptor 2.
void say(const std::string& text) {
#ifdef _WIN32
    _write(2, text.data(), static_cast<unsigned>(text.size()));
#else
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(2, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
#endif
}

}  // namespace

void fail(const char* what, const std::string& detail) {
    say(std::string("fuzz check failed: ") + what + "\n" + detail +
        (detail.empty() || detail.back() == '\n' ? "" : "\n"));
    std::abort();
}

void check_text(const std::string& got, const std::string& want, const char* what) {
    if (got == want) return;
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    const std::size_t from = at > 200 ? at - 200 : 0;
    fail(what, format("first difference at byte %zu\n--- got:\n%s\n--- wanted:\n%s\n", at,
                      got.substr(from, 400).c_str(), want.substr(from, 400).c_str()));
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        check(end != std::string::npos, "a line without its end");
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

std::string format(const char* pattern, ...) {
    std::va_list args;
    va_start(args, pattern);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    std::vsnprintf(text.data(), text.size() + 1, pattern, again);
    va_end(again);
    return text;
}

std::FILE* open_bytes(bytes& data) {
    std::FILE* stream = icon_test::open_bytes(data);
    if (stream == nullptr) fail("no stream over the input");
    return stream;
}

#ifdef _WIN32

// Windows has no memory streams: temporary files, deleted when closed, stand
// in for the sinks, and standard output and error are captured by pointing
// descriptors 1 and 2 at them (stdout and stderr cannot be assigned).

byte_sink::byte_sink() : stream_(icon_test::temporary_stream()) {
    if (stream_ == nullptr) fail("temporary stream");
}

byte_sink::~byte_sink() { std::fclose(stream_); }

std::string byte_sink::text() {
    std::fflush(stream_);
    std::fseek(stream_, 0, SEEK_END);
    const long size = std::ftell(stream_);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    std::fseek(stream_, 0, SEEK_SET);
    text.resize(std::fread(text.data(), 1, text.size(), stream_));
    std::fseek(stream_, 0, SEEK_END);
    return text;
}

console_capture::console_capture() {
    std::fflush(stdout);
    std::fflush(stderr);
    std::FILE* const sinks[2] = {out_.get(), err_.get()};
    for (int i = 0; i < 2; ++i) {
        saved_descriptors_[i] = _dup(i + 1);
        // The sink's descriptor is binary, and so is the copy: lines end in
        // LF alone, as the model writes them.
        if (saved_descriptors_[i] < 0 || _dup2(_fileno(sinks[i]), i + 1) != 0) fail("_dup2");
    }
}

console_capture::~console_capture() {
    std::fflush(stdout);
    std::fflush(stderr);
    for (int i = 0; i < 2; ++i) {
        _dup2(saved_descriptors_[i], i + 1);
        _close(saved_descriptors_[i]);
    }
}

std::string console_capture::out() {
    std::fflush(stdout);
    return out_.text();
}

std::string console_capture::err() {
    std::fflush(stderr);
    return err_.text();
}

#else

byte_sink::byte_sink() : stream_(open_memstream(&buffer_, &size_)) {
    if (stream_ == nullptr) fail("open_memstream");
}

byte_sink::~byte_sink() {
    std::fclose(stream_);
    std::free(buffer_);
}

std::string byte_sink::text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
}

console_capture::console_capture() : saved_out_(stdout), saved_err_(stderr) {
    std::fflush(stdout);
    std::fflush(stderr);
    stdout = out_.get();
    stderr = err_.get();
}

console_capture::~console_capture() {
    stdout = saved_out_;
    stderr = saved_err_;
}

std::string console_capture::out() { return out_.text(); }

std::string console_capture::err() { return err_.text(); }

#endif

namespace {

std::string& scratch() {
    static std::string path;
    return path;
}

void remove_scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch(), ignored);
}

}  // namespace

void bound_icon_count(bytes& data) {
    if (data.size() < 6) return;
    const std::size_t room = (data.size() - 6) / 16 + 16;
    if (le16(data.data() + 4) > room) {
        data[4] = static_cast<std::uint8_t>(room & 0xFFu);
        data[5] = static_cast<std::uint8_t>(room >> 8);
    }
}

void make_scratch_folder(const char* prefix) {
    scratch() = icon_test::new_folder(std::filesystem::temp_directory_path().string(), prefix);
    if (scratch().empty()) fail("no scratch folder could be made");
    std::atexit(remove_scratch);
}

const std::string& scratch_folder() { return scratch(); }

void write_file(const std::string& path, const bytes& data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    bytes data(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return data;
}

}  // namespace fuzz
