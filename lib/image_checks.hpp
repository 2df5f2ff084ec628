// Checks of one image of an icon file: what its own bytes say (a PNG
// stream's chunks and IHDR, a bitmap's header), and where its directory
// entry disagrees with them. Each problem becomes a finding with a stable
// check id, the readers it affects and what they do, from which its
// severity follows (reader_model).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "icon_records.hpp"
#include "reader_model.hpp"

struct finding {
    std::int32_t image;   // image index in the file's directory; -1: the file as a whole
    std::int64_t offset;  // byte offset in the file the finding is about; -1 when none
    severity level;
    const char* id;          // stable check id, e.g. "png-size-mismatch"
    std::string message;     // one sentence, no trailing newline: the problem, then what readers do
    reader_effect effect{};  // the readers it affects and what they do
};

// A finding's message, formatted as printf formats; at most 255 bytes.
[[gnu::format(printf, 1, 2)]] std::string finding_text(const char* format, ...);

// Appends one finding of a fixed severity, naming no reader: a requirement
// of the user's, or a file that can't be examined.
void add_finding(std::vector<finding>& out, std::int32_t index, std::int64_t offset, severity level,
                 const char* id, std::string message);

// Appends one finding whose severity and readers follow from `effect`; the
// message is `problem`, a colon and what the readers do: `phrase` when given,
// else effect_phrase.
void add_finding(std::vector<finding>& out, std::int32_t index, std::int64_t offset,
                 const reader_effect& effect, const char* id, const std::string& problem,
                 const char* phrase = nullptr);

enum class image_kind { unknown, bitmap, png };

// "bitmap", "png" or "unknown".
const char* image_kind_name(image_kind kind);

// What an image's own bytes say, independent of its directory entry.
struct image_facts {
    image_kind kind = image_kind::unknown;
    std::int32_t width = 0;          // pixels, from IHDR or the bitmap header
    std::int32_t height = 0;         // pixels of the icon (biHeight / 2 for bitmaps)
    std::int32_t stored_height = 0;  // bitmaps: biHeight as stored (colour and mask rows)
    std::uint16_t bit_count = 0;     // bits per pixel (PNG: bit depth x channels)
    std::uint8_t color_count = 0;    // palette entries for <= 8 bits (0 when 256 or more / none)
    std::int64_t size = -1;          // bytes the image really spans: PNG signature to the end of
                                     // IEND's CRC, a bitmap's header, colour table, colour rows
                                     // and (where the file holds it) mask; -1 when unknown
    std::int64_t examined = 0;       // bytes from the image's start that its examination read or
                                     // passed over

    // Bitmaps.
    std::int32_t header_size = 0;  // biSize: 40, 12 for the old core header, 108 or 124
    std::int32_t compression = 0;  // biCompression
    std::int32_t table_size = 0;   // bytes of the colour table (and bit field masks)
    std::int64_t colour_end = -1;  // bytes up to the end of the colour rows, where the mask starts
    std::int64_t full_size = -1;   // bytes with the whole mask
    bool mask_missing = false;     // the file ends after the colour rows, before the mask's end

    // PNG streams.
    std::uint8_t png_color_type = 0;
    std::uint8_t png_bit_depth = 0;
    bool png_trns = false;        // a tRNS chunk: transparency for a palette or a colour key
    bool png_srgb = false;        // an sRGB or iCCP chunk: the colours are managed
    bool png_chrm = false;        // a cHRM chunk
    std::uint32_t png_gamma = 0;  // gAMA's value (100000 = 1.0); 0 when none
    std::int64_t data_end = -1;   // bytes up to the end of the last IDAT chunk
    bool decodable = false;       // the structure let the pixels be decoded

    // The pixels, where examine_pixels decoded them.
    bool decoded = false;
    std::uint64_t digest = 0;      // of the size and the RGBA rows: equal pictures, equal digests
    bool mask_hides = false;       // the mask hides a pixel
    bool mask_shows = false;       // the mask leaves a pixel shown (or there is no mask)
    bool alpha_zero = false;       // a 32-bit bitmap whose alpha is 0 everywhere
    std::int32_t inverted = 0;     // pixels Windows XORs onto the screen, inverting it: the mask
                                   // hides them, their colour is no dark grey, and alpha does
                                   // not decide instead
    bool png_transparent = false;  // a PNG pixel whose alpha is 0
    bool png_red_blue = false;     // a PNG pixel shown whose red and blue differ
    bool two_colours = false;      // a 1-bit bitmap shows a colour other than black for index 0
                                   // or white for index 1

    reader_set fails = 0;  // readers that fail the image, by its findings
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

// True when Windows (Wine) makes a 24-bit bitmap of a PNG image of this
// colour type, depth and tRNS: it expands palettes and depths below 8,
// tRNS into alpha on the way, and turns grey into RGB; what ends up without
// alpha is 24-bit, with red and blue swapped, and an 8-bit grey or RGB
// image's tRNS ignored.
bool png_without_alpha(std::uint8_t color_type, std::uint8_t depth, bool trns);

// What Windows shows of such an image: "Windows shows it with red and blue
// swapped", "... its transparent pixels opaque", both, or "every reader
// shows it".
const char* png_colour_phrase(bool swapped, bool key_lost);

// An entry's width or height byte as pixels: 0 means 256.
constexpr std::int32_t entry_pixels(std::uint8_t stored) { return stored == 0 ? 256 : std::int32_t{stored}; }
