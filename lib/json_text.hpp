// Text as JSON: the string literals of the programs' JSON lines, and the
// UTF-8 rule they keep text by.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Bytes in the UTF-8 sequence that starts at `s[i]`: 1 to 4, or 0 when no
// valid sequence starts there (a stray continuation byte, an overlong or
// cut sequence, a surrogate, a code point past U+10FFFF).
std::size_t utf8_sequence_length(std::string_view s, std::size_t i);

// A JSON string literal holding `text`: quotes, backslashes and control
// characters escaped, valid UTF-8 kept, and each byte that is not part of
// valid UTF-8 written as U+FFFD, so that every line is valid JSON whatever
// a file name holds.
std::string json_string(const std::string& text);
