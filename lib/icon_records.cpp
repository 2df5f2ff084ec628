#include "icon_records.hpp"

namespace {

// Writers take signed 16- and 32-bit values; only the bit pattern is written.
io_result put16(std::FILE* stream, std::uint16_t value) {
    return write_le16(stream, static_cast<std::int16_t>(value));
}

}  // namespace

io_result read_icon_dir(std::FILE* stream, ICONDIR& dir) {
    io_result r = read_le16(stream, &dir.idReserved);
    if (r == IO_OK) r = read_le16(stream, &dir.idType);
    if (r == IO_OK) r = read_le16(stream, &dir.idCount);
    return r;
}

io_result write_icon_dir(std::FILE* stream, const ICONDIR& dir) {
    io_result r = put16(stream, dir.idReserved);
    if (r == IO_OK) r = put16(stream, dir.idType);
    if (r == IO_OK) r = put16(stream, dir.idCount);
    return r;
}

io_result read_icon_dir_entry(std::FILE* stream, ICONDIRENTRY& entry) {
    io_result r = read_u8(stream, &entry.bWidth);
    if (r == IO_OK) r = read_u8(stream, &entry.bHeight);
    if (r == IO_OK) r = read_u8(stream, &entry.bColorCount);
    if (r == IO_OK) r = read_u8(stream, &entry.bReserved);
    if (r == IO_OK) r = read_le16(stream, &entry.wPlanes);
    if (r == IO_OK) r = read_le16(stream, &entry.wBitCount);
    if (r == IO_OK) r = read_le32(stream, &entry.dwBytesInRes);
    if (r == IO_OK) r = read_le32(stream, &entry.dwImageOffset);
    return r;
}

io_result write_icon_dir_entry(std::FILE* stream, const ICONDIRENTRY& entry) {
    io_result r = write_u8(stream, entry.bWidth);
    if (r == IO_OK) r = write_u8(stream, entry.bHeight);
    if (r == IO_OK) r = write_u8(stream, entry.bColorCount);
    if (r == IO_OK) r = write_u8(stream, entry.bReserved);
    if (r == IO_OK) r = put16(stream, entry.wPlanes);
    if (r == IO_OK) r = put16(stream, entry.wBitCount);
    if (r == IO_OK) r = write_le32(stream, entry.dwBytesInRes);
    if (r == IO_OK) r = write_le32(stream, entry.dwImageOffset);
    return r;
}

io_result read_bitmap_info_header(std::FILE* stream, BITMAPINFOHEADER& header) {
    io_result r = read_le32(stream, &header.biSize);
    if (r == IO_OK) r = read_le32(stream, &header.biWidth);
    if (r == IO_OK) r = read_le32(stream, &header.biHeight);
    if (r == IO_OK) r = read_le16(stream, &header.biPlanes);
    if (r == IO_OK) r = read_le16(stream, &header.biBitCount);
    if (r == IO_OK) r = read_le32(stream, &header.biCompression);
    if (r == IO_OK) r = read_le32(stream, &header.biSizeImage);
    if (r == IO_OK) r = read_le32(stream, &header.biXPelsPerMeter);
    if (r == IO_OK) r = read_le32(stream, &header.biYPelsPerMeter);
    if (r == IO_OK) r = read_le32(stream, &header.biClrUsed);
    if (r == IO_OK) r = read_le32(stream, &header.biClrImportant);
    return r;
}

io_result write_bitmap_info_header(std::FILE* stream, const BITMAPINFOHEADER& header) {
    io_result r = write_le32(stream, header.biSize);
    if (r == IO_OK) r = write_le32(stream, header.biWidth);
    if (r == IO_OK) r = write_le32(stream, header.biHeight);
    if (r == IO_OK) r = put16(stream, header.biPlanes);
    if (r == IO_OK) r = put16(stream, header.biBitCount);
    if (r == IO_OK) r = write_le32(stream, header.biCompression);
    if (r == IO_OK) r = write_le32(stream, header.biSizeImage);
    if (r == IO_OK) r = write_le32(stream, header.biXPelsPerMeter);
    if (r == IO_OK) r = write_le32(stream, header.biYPelsPerMeter);
    if (r == IO_OK) r = write_le32(stream, header.biClrUsed);
    if (r == IO_OK) r = write_le32(stream, header.biClrImportant);
    return r;
}

BITMAPINFOHEADER bitmap_info_header_from(const std::uint8_t (&bytes)[BITMAPINFOHEADER_SIZE]) {
    const auto u16 = [&bytes](std::size_t at) {
        return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
    };
    const auto s32 = [&bytes](std::size_t at) {
        return static_cast<std::int32_t>(std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
                                         std::uint32_t{bytes[at + 2]} << 16 |
                                         std::uint32_t{bytes[at + 3]} << 24);
    };
    return {s32(0), s32(4), s32(8), u16(12), u16(14), s32(16), s32(20), s32(24), s32(28), s32(32), s32(36)};
}

bool is_png_image(const BITMAPINFOHEADER& header) { return header.biSize == PNG_SIGNATURE_LE32; }

namespace {

// Header fields may hold any value, so sums and products wrap modulo 2^32.
// They are computed in unsigned arithmetic, where wrapping is defined, and
// only then read back as signed.
std::int32_t wrap(std::uint32_t bits) { return static_cast<std::int32_t>(bits); }
std::uint32_t bits(std::int32_t value) { return static_cast<std::uint32_t>(value); }

// Bytes in a row of `row_bits` (wrapped) bits: divide by 8 toward zero, then
// clear the two low bits, which rounds a positive row up to 4 bytes.
std::int32_t row_size(std::uint32_t row_bits) {
    const std::int32_t quotient = wrap(row_bits + 31u) / 8;
    return wrap(bits(quotient) & ~std::uint32_t{3});
}

}  // namespace

std::int32_t expected_image_size(const BITMAPINFOHEADER& header) {
    const std::int32_t rows = header.biHeight / 2;
    const std::int32_t colour_row = row_size(std::uint32_t{header.biBitCount} * bits(header.biWidth));
    const std::int32_t mask_row = row_size(bits(header.biWidth));
    std::uint32_t size = bits(BITMAPINFOHEADER_SIZE) + bits(rows) * (bits(colour_row) + bits(mask_row));
    if (header.biBitCount <= 8) size += 4u << header.biBitCount;
    return wrap(size);
}
