// PNG streams to RGBA and back, through libspng over zlib.
//
// Decoding takes every PNG an icon may hold or a user may give: grey, grey
// with alpha, RGB, RGBA and palette images of every bit depth, tRNS
// transparency and Adam7 interlacing; samples of 16 bits keep their high
// byte. Colour chunks (gAMA, cHRM, iCCP, sRGB) are not applied: icon readers
// show the stored values. Ancillary chunks take at most 16 MiB of memory.
//
// Encoding writes the smallest exact form of the pixels: among palette
// (with tRNS), grey, grey with a transparent key or with alpha, RGB, RGB
// with a transparent key and RGBA, at the lowest bit depth that loses no
// pixel, each form tried with several filter and deflate settings; the
// smallest stream wins, the earlier one on a tie. Given the same zlib and
// libspng versions the bytes are the same on every host. The stream holds
// IHDR, PLTE and tRNS where needed, IDAT and IEND, nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "rgba_image.hpp"

// Decodes the PNG stream `data` row by row into `sink`, holding one row at
// a time (an interlaced stream whole, as its passes fill rows out of order).
// The size in IHDR is checked against `limits` before anything is
// allocated; the stream must be whole through IEND, every CRC right.
image_status read_png(const std::uint8_t* data, std::size_t size, rgba_row_sink& sink,
                      const image_limits& limits = {});

// Where a streamed PNG's bytes come from: read() fills `into` with exactly
// `size` bytes, or answers false when there are no more.
class png_byte_source {
   public:
    virtual ~png_byte_source() = default;
    virtual bool read(std::uint8_t* into, std::size_t size) = 0;

   protected:
    png_byte_source() = default;
    png_byte_source(const png_byte_source&) = default;
    png_byte_source& operator=(const png_byte_source&) = default;
};

struct png_read_options {
    // false: a chunk's wrong CRC is no error, for a caller that checks the
    // CRCs itself and wants to know whether the pixels decode regardless.
    bool check_crcs = true;
};

// The same from `source`, read as the decoder asks: memory holds a row and
// the compression window, never the stream.
image_status read_png(png_byte_source& source, rgba_row_sink& sink, const image_limits& limits,
                      const png_read_options& options);

// The same from a stream, from its position on; it is read as far as IEND
// and no further, through a buffer of its own.
image_status read_png(std::FILE* stream, rgba_row_sink& sink, const image_limits& limits = {});

// The same into one image.
image_status decode_png(const std::uint8_t* data, std::size_t size, rgba_image& image,
                        const image_limits& limits = {});

// Where an encoded stream goes. In an icon, forms that Windows shows wrongly
// are left out: Wine 8 shows RGB images (with or without a tRNS key) and
// palette images without tRNS with red and blue swapped, and shows a
// palette image with tRNS right. So colour is stored with alpha, and a
// palette always has a tRNS chunk (of one entry when every colour is
// opaque); grey forms stay, as swapping changes no grey.
enum class png_use : std::uint8_t { file, icon };

// Replaces `png` with the smallest exact PNG stream of `image` among the
// forms allowed for its use.
image_status encode_png(const rgba_image& image, std::vector<std::uint8_t>& png, png_use use = png_use::file);

// "libspng 0.7.3, zlib 1.2.13": the versions in use, for --version.
const char* png_library_versions();
