#include "png_records.hpp"

#include <array>
#include <cstring>

namespace {

// The byte-at-a-time table of the reflected polynomial, built at compile time.
constexpr std::array<std::uint32_t, 256> make_crc_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> CRC_TABLE = make_crc_table();

// Chunk data goes through the CRC in blocks of this size.
constexpr std::int32_t CRC_BLOCK = 4096;

}  // namespace

io_result read_png_signature(std::FILE* stream, std::uint8_t (&signature)[PNG_SIGNATURE_SIZE]) {
    std::int32_t count = PNG_SIGNATURE_SIZE;
    return stream_read(stream, &count, signature);
}

io_result read_png_chunk_header(std::FILE* stream, PNG_CHUNK_HEADER& header) {
    io_result r = read_be32(stream, &header.length);
    for (std::uint8_t& letter : header.type) {
        if (r == IO_OK) r = read_u8(stream, &letter);
    }
    return r;
}

io_result read_png_ihdr(std::FILE* stream, PNG_IHDR& ihdr) {
    io_result r = read_be32(stream, &ihdr.width);
    if (r == IO_OK) r = read_be32(stream, &ihdr.height);
    if (r == IO_OK) r = read_u8(stream, &ihdr.bit_depth);
    if (r == IO_OK) r = read_u8(stream, &ihdr.color_type);
    if (r == IO_OK) r = read_u8(stream, &ihdr.compression);
    if (r == IO_OK) r = read_u8(stream, &ihdr.filter);
    if (r == IO_OK) r = read_u8(stream, &ihdr.interlace);
    return r;
}

bool png_chunk_is(const PNG_CHUNK_HEADER& header, const char (&type)[5]) {
    return std::memcmp(header.type, type, 4) == 0;
}

std::uint32_t crc32_update(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = CRC_TABLE[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

io_result crc_stream_bytes(std::FILE* stream, std::uint32_t length, std::uint32_t* crc) {
    std::uint8_t block[CRC_BLOCK];
    while (length > 0) {
        std::int32_t count =
            length < std::uint32_t{CRC_BLOCK} ? static_cast<std::int32_t>(length) : CRC_BLOCK;
        const io_result r = stream_read(stream, &count, block);
        *crc = crc32_update(*crc, block, static_cast<std::size_t>(count));
        if (r != IO_OK) return r;
        length -= static_cast<std::uint32_t>(count);
    }
    return IO_OK;
}
