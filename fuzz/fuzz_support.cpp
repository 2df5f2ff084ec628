#include "fuzz_support.hpp"

#include <unistd.h>

#include <cstdarg>
#include <cstdlib>

namespace fuzz {

namespace {

// Standard error may be captured; failures go straight to descriptor 2.
void say(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(2, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
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
    static char nothing[1];  // an empty vector may have no storage at all
    void* buffer = data.empty() ? static_cast<void*>(nothing) : data.data();
    std::FILE* stream = fmemopen(buffer, data.size(), "rb");
    if (stream == nullptr) fail("fmemopen");
    return stream;
}

console_capture::console_capture() : saved_out_(stdout), saved_err_(stderr) {
    out_ = open_memstream(&out_buffer_, &out_size_);
    err_ = open_memstream(&err_buffer_, &err_size_);
    if (out_ == nullptr || err_ == nullptr) fail("open_memstream");
    std::fflush(stdout);
    std::fflush(stderr);
    stdout = out_;
    stderr = err_;
}

console_capture::~console_capture() {
    stdout = saved_out_;
    stderr = saved_err_;
    std::fclose(out_);
    std::fclose(err_);
    std::free(out_buffer_);
    std::free(err_buffer_);
}

std::string console_capture::out() {
    std::fflush(out_);
    return std::string(out_buffer_, out_size_);
}

std::string console_capture::err() {
    std::fflush(err_);
    return std::string(err_buffer_, err_size_);
}

}  // namespace fuzz
