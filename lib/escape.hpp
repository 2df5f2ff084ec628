// File names as the programs' text lines show them. A name is any bytes the
// system allows, so a name written raw could end a line and start one of an
// attacker's choosing ("forged.ico: image 0: error: ..."), which CI
// annotations and editors would take as a finding, or drive the terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Bytes in the UTF-8 sequence that starts at `text[at]`: 1 to 4, or 0 when
// no valid sequence starts there (a stray continuation byte, an overlong
// form, a surrogate, a code point past U+10FFFF, or a cut sequence).
std::size_t utf8_sequence_length(std::string_view text, std::size_t at);

// `name` with every byte below 0x20, 0x7F and every byte that is not part of
// valid UTF-8 written as a C escape: \n, \t and \r by name, the others as
// \x and two lower-case hex digits (\x1b, \xff); a backslash is written \\.
// Printable ASCII and valid UTF-8 stay as they are.
std::string escaped_name(std::string_view name);
