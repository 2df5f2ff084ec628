#include "names.hpp"

#include <cstring>

#include "platform.hpp"

namespace {

constexpr std::size_t max_name_part = 64;

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

std::string input_stem(const char* path) {
    const std::string name = file_name_in(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string name_part(std::string_view name) {
    std::string out;
    for (const char c : name.substr(0, max_name_part)) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          c == '.' || c == '_' || c == '-';
        out += kept ? c : '_';
    }
    return out;
}

std::string image_base(const std::string& stem, std::int32_t index, std::int32_t width, std::int32_t height,
                       std::uint16_t bits) {
    return stem + "-" + std::to_string(index) + "-" + std::to_string(width) + "x" + std::to_string(height) +
           "-" + std::to_string(bits);
}

std::string name_register::unique(const std::string& base, const std::string& extension) {
    std::string name = base + extension;
    if (given_.insert(lower(name)).second) return name;
    unsigned& suffix = next_suffix_.try_emplace(lower(name), 2).first->second;
    for (;; ++suffix) {
        name = base + "~" + std::to_string(suffix) + extension;
        if (given_.insert(lower(name)).second) return name;
    }
}
