#include "png_records.hpp"

#include <zlib.h>

#include <cstring>

namespace {

// Four bytes most significant first, as PNG stores numbers.
std::uint32_t be32_at(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 |
           std::uint32_t{bytes[3]};
}

}  // namespace

PNG_CHUNK_HEADER png_chunk_header_from(const std::uint8_t (&bytes)[PNG_CHUNK_HEADER_SIZE]) {
    return {be32_at(bytes), {bytes[4], bytes[5], bytes[6], bytes[7]}};
}

PNG_IHDR png_ihdr_from(const std::uint8_t (&bytes)[PNG_IHDR_DATA_SIZE]) {
    return {be32_at(bytes), be32_at(bytes + 4), bytes[8], bytes[9], bytes[10], bytes[11], bytes[12]};
}

bool png_chunk_is(const PNG_CHUNK_HEADER& header, const char (&type)[5]) {
    return std::memcmp(header.type, type, 4) == 0;
}

std::uint32_t crc32_update(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    // zlib's, which every build links for the image layer: it works on
    // several interleaved words at once, faster than a table of our own.
    return static_cast<std::uint32_t>(crc32_z(crc, data, size));
}
