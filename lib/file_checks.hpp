// Checks of a whole icon file: its header, its directory against the file's
// size, where the images lie (inside the directory, past the end, over each
// other), images of the same size and depth, and sizes the caller requires.
// Each image is examined through image_checks, in the order of the images'
// offsets, so a file is read front to back once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "icon_records.hpp"
#include "image_checks.hpp"

struct lint_options {
    std::vector<std::int32_t> required_sizes;  // square sizes that must be present, in pixels
};

// One image as the file's directory and its bytes describe it.
struct image_record {
    ICONDIRENTRY entry{};
    image_facts facts;
    bool entry_read = false;  // false when the directory ends before this entry
};

struct file_report {
    std::vector<finding> findings;  // file-wide ones first, then by image index
    std::vector<image_record> images;
    std::uint16_t id_type = 0;
};

// Lints the open `stream` from its start. Answers false when the stream
// cannot be positioned or its size told; a file that merely ends early is
// reported through findings.
bool lint_stream(std::FILE* stream, const lint_options& options, file_report& report);

// True when any finding is an error.
bool has_error(const std::vector<finding>& findings);
