#include "png_records.hpp"

#include <array>
#include <cstring>

namespace {

// Tables of the reflected polynomial, built at compile time: TABLES[0][n] is
// the CRC register after byte n, TABLES[k][n] after byte n and k zero bytes,
// so that eight bytes go through in one step of eight look-ups (slicing by
// eight) rather than eight dependent ones.
using crc_tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr crc_tables make_crc_tables() {
    crc_tables tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (std::size_t k = 1; k < tables.size(); ++k) {
        for (std::size_t n = 0; n < 256; ++n)
            tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFFu];
    }
    return tables;
}

constexpr crc_tables CRC_TABLES = make_crc_tables();

// Four bytes least significant first, whatever the host's byte order.
std::uint32_t le32_at(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

// Chunk data goes through the CRC in blocks of this size.
constexpr std::int32_t CRC_BLOCK = 16384;

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
    const crc_tables& t = CRC_TABLES;
    crc = ~crc;
    for (; size >= 8; data += 8, size -= 8) {
        const std::uint32_t low = crc ^ le32_at(data);
        const std::uint32_t high = le32_at(data + 4);
        crc = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^ t[4][low >> 24] ^
              t[3][high & 0xFFu] ^ t[2][(high >> 8) & 0xFFu] ^ t[1][(high >> 16) & 0xFFu] ^ t[0][high >> 24];
    }
    for (; size > 0; ++data, --size) crc = t[0][(crc ^ *data) & 0xFFu] ^ (crc >> 8);
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
