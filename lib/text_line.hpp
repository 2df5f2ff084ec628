// One line of a listing, built in a fixed buffer and handed to a stream in a
// single write, as one printf call would hand it.
//
// A number is laid out as printf's "%Nd" lays it out: right-aligned in at
// least N characters, a minus sign counting toward N, and a wider number
// taking the room it needs. The programs' lines are far shorter than the
// buffer; a piece that would not fit is cut, never written past the end.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

class text_line {
   public:
    text_line& text(std::string_view piece) {
        const std::size_t n = std::min(piece.size(), sizeof buffer_ - size_);
        std::memcpy(buffer_ + size_, piece.data(), n);
        size_ += n;
        return *this;
    }

    text_line& number(std::int32_t value, std::size_t width) {
        char digits[16];
        const char* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        const auto length = static_cast<std::size_t>(end - digits);
        if (width > length) pad(width - length);
        return text({digits, length});
    }

    // Answers what std::fwrite answers; a failure shows in the stream's
    // error indicator, as it would after printf.
    std::size_t put(std::FILE* stream) const { return std::fwrite(buffer_, 1, size_, stream); }

   private:
    void pad(std::size_t count) {
        const std::size_t n = std::min(count, sizeof buffer_ - size_);
        std::memset(buffer_ + size_, ' ', n);
        size_ += n;
    }

    char buffer_[256];
    std::size_t size_ = 0;
};
