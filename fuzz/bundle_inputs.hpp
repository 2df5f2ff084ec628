// How one fuzz input becomes the bundler's input files: the bytes after the
// first are cut at every "\n--\n" into up to eight files. The first byte's
// low bit names the first file once more at the end (an input given twice);
// its next bit adds a path that does not exist.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace fuzz {

inline constexpr std::string_view input_separator = "\n--\n";
inline constexpr std::size_t max_inputs = 8;
inline constexpr std::uint8_t repeat_first_input = 1;
inline constexpr std::uint8_t add_missing_input = 2;

inline std::vector<std::vector<std::uint8_t>> split_inputs(const std::uint8_t* data, std::size_t size) {
    std::vector<std::vector<std::uint8_t>> files(1);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t at = size == 0 ? 0 : 1;
    while (at < size) {
        const std::size_t cut = text.find(input_separator, at);
        if (cut == std::string_view::npos || files.size() == max_inputs) {
            files.back().insert(files.back().end(), data + at, data + size);
            break;
        }
        files.back().insert(files.back().end(), data + at, data + cut);
        files.emplace_back();
        at = cut + input_separator.size();
    }
    return files;
}

inline std::vector<std::uint8_t> join_inputs(std::uint8_t flags,
                                             const std::vector<std::vector<std::uint8_t>>& files) {
    std::vector<std::uint8_t> data{flags};
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i > 0) data.insert(data.end(), input_separator.begin(), input_separator.end());
        data.insert(data.end(), files[i].begin(), files[i].end());
    }
    return data;
}

}  // namespace fuzz
