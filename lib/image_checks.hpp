// Checks of one image of an icon file: what its own bytes say (a PNG
// stream's chunks and IHDR, a bitmap's BITMAPINFOHEADER), and where its
// directory entry disagrees with them. Each problem becomes a finding with
// a stable check id and a severity: error when a major reader fails or shows
// the wrong image, warning when readers disagree or a documented rule is
// broken, note for advice.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "icon_records.hpp"

enum class severity { error, warning, note };

// "error", "warning" or "note".
const char* severity_name(severity level);

struct finding {
    std::int32_t image;   // image index in the file's directory; -1: the file as a whole
    std::int64_t offset;  // byte offset in the file the finding is about; -1 when none
    severity level;
    const char* id;       // stable check id, e.g. "png-size-mismatch"
    std::string message;  // one sentence, no trailing newline
};

// A finding's message, formatted as printf formats; at most 255 bytes.
[[gnu::format(printf, 1, 2)]] std::string finding_text(const char* format, ...);

// Appends one finding to `out`.
void add_finding(std::vector<finding>& out, std::int32_t index, std::int64_t offset, severity level,
                 const char* id, std::string message);

enum class image_kind { unknown, bitmap, png };

// "bitmap", "png" or "unknown".
const char* image_kind_name(image_kind kind);

// What an image's own bytes say, independent of its directory entry.
struct image_facts {
    image_kind kind = image_kind::unknown;
    std::int32_t width = 0;          // pixels, from IHDR or biWidth
    std::int32_t height = 0;         // pixels of the icon (biHeight / 2 for bitmaps)
    std::int32_t stored_height = 0;  // bitmaps: biHeight as stored (colour and mask rows)
    std::uint16_t bit_count = 0;     // bits per pixel (PNG: bit depth x channels)
    std::uint8_t color_count = 0;    // palette entries for <= 8 bits (0 when 256 or more / none)
    std::int64_t size = -1;          // bytes the image really spans: PNG signature to the end of
                                     // IEND's CRC, a bitmap's expected_image_size(); -1 when unknown
    std::int64_t examined = 0;       // bytes from the image's start that its examination read or
                                     // passed over
};

// How much of an image examine_image reads, and where it copies what it reads.
struct image_pass {
    // false: the PNG chunks' data is passed over unread and no CRC is
    // checked; the structure alone, for a first look before the whole.
    bool check_crcs = true;
    // When set, every byte of the image is written here as it is read, once
    // and in order: its facts.size bytes (a bitmap's rows after its header
    // too), or fewer when the image has an error. What is copied is then
    // exactly what was examined.
    std::FILE* copy = nullptr;
    bool copy_failed = false;  // answer: a write to `copy` failed (errno tells why)
};

// Examines the image that starts at `offset` of `stream` (anywhere below
// 2^63), of which at most `available` bytes exist in the file (file size -
// offset; this function seeks the stream). `claimed_size` is the entry's
// dwBytesInRes; it bounds the walk only when `available` is unknown
// (negative). Appends findings about the image's own bytes, each tagged
// with `index`, and answers the facts. Each byte is read once, in order, in
// fixed blocks: memory never depends on the image's size. Every check
// reports at most once an image.
image_facts examine_image(std::FILE* stream, std::int32_t index, std::int64_t offset, std::int64_t available,
                          std::int32_t claimed_size, std::vector<finding>& out, image_pass& pass);
image_facts examine_image(std::FILE* stream, std::int32_t index, std::int64_t offset, std::int64_t available,
                          std::int32_t claimed_size, std::vector<finding>& out);

// Findings where directory entry `index` disagrees with its image: width and
// height (0 means 256), dwBytesInRes, wBitCount, bColorCount and wPlanes.
// In a cursor file (`id_type` 2) wPlanes and wBitCount are the hotspot,
// which must lie inside the image.
void check_entry(std::int32_t index, const ICONDIRENTRY& entry, std::uint16_t id_type,
                 const image_facts& facts, std::vector<finding>& out);

// An entry's width or height byte as pixels: 0 means 256.
constexpr std::int32_t entry_pixels(std::uint8_t stored) { return stored == 0 ? 256 : std::int32_t{stored}; }
