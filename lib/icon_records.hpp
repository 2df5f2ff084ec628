// The header records of an ICO file.
//
// Layout on disk, every multi-byte field least significant byte first, offsets
// from the start of the file:
//
//   0                 ICONDIR, 6 bytes
//   6 + 16 * i        ICONDIRENTRY of image i, 16 bytes, i < idCount
//   dwImageOffset     dwBytesInRes bytes of image i
//
// An image is either a PNG stream (first bytes 89 50 4E 47) or a bitmap that
// starts with a 40-byte BITMAPINFOHEADER followed by its colour table, colour
// rows and 1-bit mask rows; biHeight counts both bitmaps, so it is twice the
// icon's height.
//
// The records hold exactly the fields of the format, in file order. 8- and
// 16-bit fields are unsigned, 32-bit fields signed. Readers and writers move
// one field at a time through the field codecs and stop at the first field
// that fails, leaving the later fields as they were; they never position the
// stream and validate nothing.
#pragma once

#include <cstdint>
#include <cstdio>

#include "stream_io.hpp"

// Sizes of the records in the file, for readers and writers alike.
inline constexpr std::int32_t ICONDIR_SIZE = 6;
inline constexpr std::int32_t ICONDIRENTRY_SIZE = 16;
inline constexpr std::int32_t BITMAPINFOHEADER_SIZE = 40;

// Where the directory entry of image `index` starts in the file.
constexpr std::int32_t icon_dir_entry_offset(std::int32_t index) {
    return ICONDIR_SIZE + ICONDIRENTRY_SIZE * index;
}

struct ICONDIR {
    std::uint16_t idReserved;
    std::uint16_t idType;
    std::uint16_t idCount;
};

struct ICONDIRENTRY {
    std::uint8_t bWidth;
    std::uint8_t bHeight;
    std::uint8_t bColorCount;
    std::uint8_t bReserved;
    std::uint16_t wPlanes;
    std::uint16_t wBitCount;
    std::int32_t dwBytesInRes;
    std::int32_t dwImageOffset;
};

struct BITMAPINFOHEADER {
    std::int32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::int32_t biCompression;
    std::int32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::int32_t biClrUsed;
    std::int32_t biClrImportant;
};

// What read_le32 builds from the bytes 89 50 4E 47 that open every PNG stream.
inline constexpr std::int32_t PNG_SIGNATURE_LE32 = 0x474E5089;

io_result read_icon_dir(std::FILE* stream, ICONDIR& dir);
io_result write_icon_dir(std::FILE* stream, const ICONDIR& dir);
io_result read_icon_dir_entry(std::FILE* stream, ICONDIRENTRY& entry);
io_result write_icon_dir_entry(std::FILE* stream, const ICONDIRENTRY& entry);
io_result read_bitmap_info_header(std::FILE* stream, BITMAPINFOHEADER& header);
io_result write_bitmap_info_header(std::FILE* stream, const BITMAPINFOHEADER& header);
// The header from its 40 bytes as they lie in the file, for a reader that
// holds them already.
BITMAPINFOHEADER bitmap_info_header_from(const std::uint8_t (&bytes)[BITMAPINFOHEADER_SIZE]);

// True when the 40 bytes read as a header are the start of a PNG stream.
bool is_png_image(const BITMAPINFOHEADER& header);

// The byte count a bitmap image with this header must have: the 40-byte
// header, a full colour table for 8 bits or fewer, and biHeight / 2 rows of
// colour and of mask, each row padded to a multiple of 4 bytes. Computed in
// wrapping 32-bit arithmetic; defined for every header.
std::int32_t expected_image_size(const BITMAPINFOHEADER& header);
