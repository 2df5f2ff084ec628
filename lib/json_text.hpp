// Text as JSON: the string literals of the programs' JSON lines.
#pragma once

#include <string>

// A JSON string literal holding `text`: quotes, backslashes and control
// characters escaped, valid UTF-8 kept, and each byte that is not part of
// valid UTF-8 written as U+FFFD, so that every line is valid JSON whatever
// a file name holds.
std::string json_string(const std::string& text);
