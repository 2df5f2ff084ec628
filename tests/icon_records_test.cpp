#include "icon_records.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

#include "test_support.hpp"

using icon_test::bytes;
using icon_test::memory_stream;

namespace {

bytes written(io_result (*write)(std::FILE*, const void*), const void* record) {
    std::FILE* out = icon_test::temporary_stream();
    EXPECT_EQ(write(out, record), IO_OK);
    std::rewind(out);
    bytes data;
    for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) data.push_back(static_cast<std::uint8_t>(c));
    std::fclose(out);
    return data;
}

TEST(IconRecords, WritersLayFieldsOutLittleEndian) {
    const ICONDIR dir{0, 1, 2};
    EXPECT_EQ(written([](std::FILE* s,
                         const void* r) { return write_icon_dir(s, *static_cast<const ICONDIR*>(r)); },
                      &dir),
              (bytes{0, 0, 1, 0, 2, 0}));

    const ICONDIRENTRY entry{16, 32, 4, 0xFF, 1, 0xFFFF, 0x01020304, -2};
    EXPECT_EQ(
        written([](std::FILE* s,
                   const void* r) { return write_icon_dir_entry(s, *static_cast<const ICONDIRENTRY*>(r)); },
                &entry),
        (bytes{16, 32, 4, 0xFF, 1, 0, 0xFF, 0xFF, 4, 3, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF}));

    const BITMAPINFOHEADER header{40, 16, 32, 1, 4, 0, 296, 1, 2, 16, -1};
    bytes expected;
    for (std::uint32_t v : {40u, 16u, 32u}) icon_test::put_u32(expected, v);
    icon_test::put_u16(expected, 1);
    icon_test::put_u16(expected, 4);
    for (std::uint32_t v : {0u, 296u, 1u, 2u, 16u, 0xFFFFFFFFu}) icon_test::put_u32(expected, v);
    EXPECT_EQ(written(
                  [](std::FILE* s, const void* r) {
                      return write_bitmap_info_header(s, *static_cast<const BITMAPINFOHEADER*>(r));
                  },
                  &header),
              expected);
}

TEST(IconRecords, ReadersRoundTripEveryField) {
    // ICONDIR, then ICONDIRENTRY, in one list: g++ 12 at -O2 takes an
    // insert of the second into the first for an overflow (-Warray-bounds).
    bytes data = {0xFF, 0xFF, 0x02, 0x00, 0xFF, 0xFF,  //
                  1,    2,    3,    4,    0x05, 0x80, 0x06, 0x00,
                  0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80};
    for (std::uint32_t v = 1; v <= 11; ++v) {
        if (v == 4 || v == 5) {
            icon_test::put_u16(data, static_cast<std::uint16_t>(0xFFF0 + v));
        } else {
            icon_test::put_u32(data, 0xFFFFFF00u + v);
        }
    }
    const memory_stream in(data);
    ICONDIR dir{};
    ICONDIRENTRY entry{};
    BITMAPINFOHEADER header{};
    ASSERT_EQ(read_icon_dir(in.get(), dir), IO_OK);
    ASSERT_EQ(read_icon_dir_entry(in.get(), entry), IO_OK);
    ASSERT_EQ(read_bitmap_info_header(in.get(), header), IO_OK);
    EXPECT_EQ(dir.idReserved, 65535);
    EXPECT_EQ(dir.idType, 2);
    EXPECT_EQ(dir.idCount, 65535);
    EXPECT_EQ(entry.bWidth, 1);
    EXPECT_EQ(entry.bHeight, 2);
    EXPECT_EQ(entry.bColorCount, 3);
    EXPECT_EQ(entry.bReserved, 4);
    EXPECT_EQ(entry.wPlanes, 0x8005);
    EXPECT_EQ(entry.wBitCount, 6);
    EXPECT_EQ(entry.dwBytesInRes, INT32_MAX);
    EXPECT_EQ(entry.dwImageOffset, INT32_MIN);
    const std::int32_t got[] = {header.biSize,          header.biWidth,     header.biHeight,
                                header.biCompression,   header.biSizeImage, header.biXPelsPerMeter,
                                header.biYPelsPerMeter, header.biClrUsed,   header.biClrImportant};
    const std::int32_t want[] = {-255, -254, -253, -250, -249, -248, -247, -246, -245};
    for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(got[i], want[i]) << i;
    EXPECT_EQ(header.biPlanes, 0xFFF4);
    EXPECT_EQ(header.biBitCount, 0xFFF5);
}

// A record cut at every length keeps the fields it got and leaves the rest.
TEST(IconRecords, CutOffRecordsFillFieldByField) {
    struct dir_row {
        std::size_t length;
        ICONDIR expected;
    };
    const bytes dir_bytes = {1, 0, 2, 0, 3, 0};
    for (const dir_row& r : {dir_row{0, {9, 9, 9}}, dir_row{1, {9, 9, 9}}, dir_row{2, {1, 9, 9}},
                             dir_row{4, {1, 2, 9}}, dir_row{5, {1, 2, 9}}}) {
        SCOPED_TRACE(r.length);
        const memory_stream in(bytes(dir_bytes.begin(), dir_bytes.begin() + static_cast<long>(r.length)));
        ICONDIR dir{9, 9, 9};
        EXPECT_EQ(read_icon_dir(in.get(), dir), IO_ERROR);
        EXPECT_EQ(dir.idReserved, r.expected.idReserved);
        EXPECT_EQ(dir.idType, r.expected.idType);
        EXPECT_EQ(dir.idCount, r.expected.idCount);
    }

    const bytes entry_bytes = {1, 2, 3, 4, 5, 0, 6, 0, 7, 0, 0, 0, 8, 0, 0, 0};
    for (std::size_t length = 0; length < 16; ++length) {
        SCOPED_TRACE(length);
        const memory_stream in(bytes(entry_bytes.begin(), entry_bytes.begin() + static_cast<long>(length)));
        ICONDIRENTRY entry{99, 99, 99, 99, 99, 99, 99, 99};
        EXPECT_EQ(read_icon_dir_entry(in.get(), entry), IO_ERROR);
        const std::int64_t fields[] = {entry.bWidth,       entry.bHeight,      entry.bColorCount,
                                       entry.bReserved,    entry.wPlanes,      entry.wBitCount,
                                       entry.dwBytesInRes, entry.dwImageOffset};
        const std::size_t ends[] = {1, 2, 3, 4, 6, 8, 12, 16};
        for (std::size_t f = 0; f < 8; ++f)
            EXPECT_EQ(fields[f], ends[f] <= length ? static_cast<std::int64_t>(f + 1) : 99) << f;
    }

    // Cut after 9 bytes: the six small fields filled, the two sizes untouched.
    bytes header_bytes(40, 0);
    for (std::size_t length : {0u, 3u, 4u, 13u, 14u, 39u}) {
        SCOPED_TRACE(length);
        const memory_stream in(bytes(header_bytes.begin(), header_bytes.begin() + static_cast<long>(length)));
        BITMAPINFOHEADER header{7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7};
        EXPECT_EQ(read_bitmap_info_header(in.get(), header), IO_ERROR);
        EXPECT_EQ(header.biSize, length >= 4 ? 0 : 7);
        EXPECT_EQ(header.biPlanes, length >= 14 ? 0 : 7);
        EXPECT_EQ(header.biClrImportant, 7);
    }
}

TEST(IconRecords, PngTestLooksAtFirstFourBytesOnly) {
    struct row {
        bytes start;
        bool png;
    };
    const row rows[] = {
        {{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}, true},
        {{0x89, 0x50, 0x4E, 0x47, 0, 0, 0, 0}, true},
        {{0x89, 0x50, 0x4E, 0x46}, false},
        {{0x47, 0x4E, 0x50, 0x89}, false},
        {{40, 0, 0, 0}, false},
        {{12, 0, 0, 0}, false},
        {{108, 0, 0, 0}, false},
    };
    for (const row& r : rows) {
        bytes data = r.start;
        data.resize(40, 0);
        const memory_stream in(data);
        BITMAPINFOHEADER header{};
        ASSERT_EQ(read_bitmap_info_header(in.get(), header), IO_OK);
        EXPECT_EQ(is_png_image(header), r.png) << static_cast<int>(r.start[0]);
    }
    EXPECT_EQ(PNG_SIGNATURE_LE32, 0x474E5089);
}

TEST(IconRecords, ExpectedSizeWorkedExamples) {
    struct row {
        std::int32_t width, height;
        std::uint16_t bit_count;
        std::int32_t expected;
    };
    const row rows[] = {
        {16, 32, 4, 296},
        {32, 64, 8, 2216},
        {48, 96, 32, 9640},
        {16, 32, 1, 176},
        {32, 64, 24, 3240},
        {256, 512, 32, 270376},
        {20, 40, 1, 208},
        {16, 33, 4, 296},
        {16, 32, 0, 108},
        {16, 32, 9, 424},
        {-16, 32, 4, 40},
        {-100, 32, 1, -208},
        {16, -32, 4, -88},
        {2147483647, 2, 32, -268435412},
        // Rows of 64 and 80 bits round up to 8 and 12 bytes.
        {2, 2, 32, 40 + 8 + 4},
        {5, 2, 16, 40 + 12 + 4},
        // biClrUsed and biSize never enter: a full table is always counted.
        {32, 64, 2, 40 + 16 + 32 * (8 + 4)},
        {1, 2, 65535, 40 + 8192 + 4},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.width << " x " << r.height << " x " << r.bit_count);
        BITMAPINFOHEADER header{12, r.width, r.height, 1, r.bit_count, 0, 0, 0, 0, 16, 0};
        EXPECT_EQ(expected_image_size(header), r.expected);
    }
}

// Every extreme header gives a value, and the sanitizer build stays silent.
TEST(IconRecords, ExpectedSizeIsDefinedForEveryExtreme) {
    const std::int32_t sides[] = {INT32_MIN, INT32_MIN + 1, -65536,         -1,       0, 1, 2, 255, 256,
                                  257,       65535,         INT32_MAX - 31, INT32_MAX};
    const std::uint16_t depths[] = {0, 1, 2, 3, 8, 9, 31, 32, 64, 255, 32768, 65535};
    std::uint32_t mix = 0;
    for (std::int32_t width : sides)
        for (std::int32_t height : sides)
            for (std::uint16_t depth : depths) {
                BITMAPINFOHEADER header{40, width, height, 1, depth, 0, 0, 0, 0, 0, 0};
                mix = mix * 31u + static_cast<std::uint32_t>(expected_image_size(header));
            }
    (void)mix;
    // A colour row of 2^32 bits wraps to 0 and leaves a plausible positive size.
    BITMAPINFOHEADER wrapped{40, 0x08000000, 2, 1, 32, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(expected_image_size(wrapped), 40 + 0 + 0x01000000);
}

}  // namespace
