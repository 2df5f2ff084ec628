// The records of a PNG stream that an icon file may hold as an image.
//
// Layout, every multi-byte field most significant byte first:
//
//   0        signature, 8 bytes: 89 50 4E 47 0D 0A 1A 0A
//   8        chunks, each: length (4), type (4), length bytes of data,
//            CRC-32 (4) over the type and the data
//
// The first chunk is IHDR (13 bytes of data), the last IEND (none). Like the
// ICO records, they hold the fields in file order and validate nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "stream_io.hpp"

inline constexpr std::int32_t PNG_SIGNATURE_SIZE = 8;
inline constexpr std::int32_t PNG_CHUNK_HEADER_SIZE = 8;
inline constexpr std::int32_t PNG_CRC_SIZE = 4;
inline constexpr std::int32_t PNG_IHDR_DATA_SIZE = 13;
inline constexpr std::uint8_t PNG_SIGNATURE[PNG_SIGNATURE_SIZE] = {0x89, 0x50, 0x4E, 0x47,
                                                                   0x0D, 0x0A, 0x1A, 0x0A};

struct PNG_CHUNK_HEADER {
    std::uint32_t length;
    std::uint8_t type[4];
};

struct PNG_IHDR {
    std::uint32_t width;
    std::uint32_t height;
    std::uint8_t bit_depth;
    std::uint8_t color_type;
    std::uint8_t compression;
    std::uint8_t filter;
    std::uint8_t interlace;
};

// The records from their bytes as they lie in the stream, for a walk that
// reads each piece of a chunk once, as one block.
PNG_CHUNK_HEADER png_chunk_header_from(const std::uint8_t (&bytes)[PNG_CHUNK_HEADER_SIZE]);
PNG_IHDR png_ihdr_from(const std::uint8_t (&bytes)[PNG_IHDR_DATA_SIZE]);

// True when the chunk header's type is these four letters.
bool png_chunk_is(const PNG_CHUNK_HEADER& header, const char (&type)[5]);

// The CRC-32 of PNG and zlib (polynomial 0xEDB88320, reflected). Start with
// crc32_update(0, ...) and feed the bytes in pieces of any size.
std::uint32_t crc32_update(std::uint32_t crc, const std::uint8_t* data, std::size_t size);
