// The field codecs, the three record readers and writers, the PNG test and
// the size rule over arbitrary bytes. Every reader starts at byte 0 of its
// own stream, so each one meets every length and every bit pattern.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.hpp"
#include "ico_builder.hpp"
#include "icon_records.hpp"

using fuzz::bytes;
using fuzz::check;

namespace {

// A record's fields widened to 32 bits, with their widths in the file.
template <std::size_t N>
struct field_list {
    std::array<std::uint32_t, N> values;
    std::array<std::size_t, N> widths;
};

field_list<3> fields(const ICONDIR& d) { return {{d.idReserved, d.idType, d.idCount}, {2, 2, 2}}; }

field_list<8> fields(const ICONDIRENTRY& e) {
    return {{e.bWidth, e.bHeight, e.bColorCount, e.bReserved, e.wPlanes, e.wBitCount,
             static_cast<std::uint32_t>(e.dwBytesInRes), static_cast<std::uint32_t>(e.dwImageOffset)},
            {1, 1, 1, 1, 2, 2, 4, 4}};
}

field_list<11> fields(const BITMAPINFOHEADER& h) {
    const auto u = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };
    return {
        {u(h.biSize), u(h.biWidth), u(h.biHeight), h.biPlanes, h.biBitCount, u(h.biCompression),
         u(h.biSizeImage), u(h.biXPelsPerMeter), u(h.biYPelsPerMeter), u(h.biClrUsed), u(h.biClrImportant)},
        {4, 4, 4, 2, 2, 4, 4, 4, 4, 4, 4}};
}

std::uint32_t decode(const std::uint8_t* p, std::size_t width) {
    return width == 1 ? p[0] : width == 2 ? fuzz::le16(p) : fuzz::le32(p);
}

// Fields that fit in `data` hold its bytes; the first that does not, and
// all after it, keep what they held before; the result says which happened.
template <typename Record>
void check_read(const bytes& data, const Record& before, const Record& after, io_result result,
                const char* what) {
    const auto old_fields = fields(before);
    const auto new_fields = fields(after);
    std::size_t at = 0;
    bool whole = true;
    for (std::size_t k = 0; k < new_fields.values.size(); ++k) {
        const std::size_t width = new_fields.widths[k];
        whole = whole && at + width <= data.size();
        const std::uint32_t want = whole ? decode(data.data() + at, width) : old_fields.values[k];
        if (new_fields.values[k] != want) fuzz::fail(what, fuzz::format("field %zu", k));
        at += width;
    }
    check(result == (whole ? IO_OK : IO_ERROR), what);
}

// A record that was read whole writes back the very bytes it came from.
template <typename Record>
void check_write(const bytes& data, const Record& record, io_result (*writer)(std::FILE*, const Record&),
                 std::size_t length, const char* what) {
    fuzz::byte_sink out;
    check(writer(out.get(), record) == IO_OK, what);
    const std::string written = out.text();
    check(written.size() == length && std::memcmp(written.data(), data.data(), length) == 0, what);
}

template <typename Record>
void read_and_write_back(bytes& data, io_result (*reader)(std::FILE*, Record&),
                         io_result (*writer)(std::FILE*, const Record&), std::size_t length, const char* what,
                         Record& record) {
    // A fill pattern shows which fields a failed read left alone.
    std::memset(&record, 0xA5, sizeof record);
    const Record before = record;
    std::FILE* in = fuzz::open_bytes(data);
    const io_result result = reader(in, record);
    std::fclose(in);
    check_read(data, before, record, result, what);
    if (result == IO_OK) check_write(data, record, writer, length, what);
}

template <typename T, typename Decode>
void check_codec(bytes& data, io_result (*reader)(std::FILE*, T*), std::size_t width, Decode decoded,
                 const char* what) {
    T value = static_cast<T>(0x5A5A5A5A);
    std::FILE* in = fuzz::open_bytes(data);
    const io_result result = reader(in, &value);
    std::fclose(in);
    if (data.size() < width) {
        check(result == IO_ERROR && value == static_cast<T>(0x5A5A5A5A), what);
    } else {
        check(result == IO_OK && value == static_cast<T>(decoded(data.data())), what);
    }
}

// An exact-length read of any count, negative ones included.
void check_stream_read(bytes& data) {
    if (data.empty()) return;
    const std::int32_t wanted = data[0] < 128 ? data[0] : data[0] - 256;  // -128 .. 127
    std::uint8_t buffer[128];
    std::int32_t count = wanted;
    std::FILE* in = fuzz::open_bytes(data);
    const io_result result = stream_read(in, &count, buffer);
    std::fclose(in);
    const std::int32_t can =
        wanted < 0 ? 0 : std::min<std::int32_t>(wanted, static_cast<std::int32_t>(data.size()));
    check(count == can, "stream_read count");
    check(result == (can == wanted ? IO_OK : IO_ERROR), "stream_read result");
    check(std::memcmp(buffer, data.data(), static_cast<std::size_t>(can)) == 0, "stream_read bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
    bytes data(raw, raw + size);

    check_codec<std::uint8_t>(
        data, read_u8, 1, [](const std::uint8_t* p) { return p[0]; }, "read_u8");
    check_codec<std::uint16_t>(data, read_le16, 2, fuzz::le16, "read_le16");
    check_codec<std::int16_t>(
        data, read_be16, 2, [](const std::uint8_t* p) { return p[0] * 256 + p[1]; }, "read_be16");
    check_codec<std::int32_t>(data, read_le32, 4, fuzz::le32s, "read_le32");
    check_codec<std::uint32_t>(
        data, read_be32, 4,
        [](const std::uint8_t* p) {
            return fuzz::le32(std::array{p[3], p[2], p[1], p[0]}.data());
        },
        "read_be32");
    check_stream_read(data);

    ICONDIR dir;
    read_and_write_back(data, read_icon_dir, write_icon_dir, 6, "ICONDIR", dir);
    ICONDIRENTRY entry;
    read_and_write_back(data, read_icon_dir_entry, write_icon_dir_entry, 16, "ICONDIRENTRY", entry);
    BITMAPINFOHEADER header;
    read_and_write_back(data, read_bitmap_info_header, write_bitmap_info_header, 40, "BITMAPINFOHEADER",
                        header);

    if (data.size() >= 40) {
        const bool png = data[0] == 0x89 && data[1] == 0x50 && data[2] == 0x4E && data[3] == 0x47;
        check(is_png_image(header) == png, "is_png_image");
        check(expected_image_size(header) ==
                  icon_test::reference_size(header.biWidth, header.biHeight, header.biBitCount),
              "expected_image_size");
    }
    return 0;
}
