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

// Four bytes most significant first, as PNG stores numbers.
std::uint32_t be32_at(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 |
           std::uint32_t{bytes[3]};
}

// Four bytes least significant first, whatever the host's byte order.
std::uint32_t le32_at(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
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
