// Icon bitmaps of every depth decoded to exact pixels, the mask's rules, cut
// and unsupported data, and the 32-bit bitmap the encoder writes, byte for
// byte. The bitmaps are laid out here by hand from the format.
#include "icon_bitmap.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.hpp"

using namespace icon_test;

namespace {

// A 3 x 2 icon bitmap: header (biSize 40, biHeight 4), `table` (BGRA
// entries), the colour rows given top row first (stored bottom-up here,
// each padded to 4 bytes) and mask rows (top row first, one byte each:
// bits from the most significant, padded to 4 bytes).
bytes bitmap(std::uint16_t bits, const bytes& table, const std::vector<bytes>& rows_top_first,
             const std::vector<std::uint8_t>& mask_top_first) {
    bytes out;
    put_u32(out, 40);
    put_u32(out, 3);
    put_u32(out, 4);
    put_u16(out, 1);
    put_u16(out, bits);
    for (int i = 0; i < 6; ++i) put_u32(out, 0);
    out.insert(out.end(), table.begin(), table.end());
    for (auto row = rows_top_first.rbegin(); row != rows_top_first.rend(); ++row) {
        bytes padded = *row;
        padded.resize((padded.size() + 3) / 4 * 4, 0);
        out.insert(out.end(), padded.begin(), padded.end());
    }
    for (auto m = mask_top_first.rbegin(); m != mask_top_first.rend(); ++m)
        out.insert(out.end(), {*m, 0, 0, 0});
    return out;
}

// A palette of 2^bits BGRA entries: entry i is (blue i, green 10 i, red 100 + i).
bytes palette(unsigned bits) {
    bytes table;
    for (unsigned i = 0; i < (1u << bits); ++i)
        table.insert(table.end(), {std::uint8_t(i), std::uint8_t(i * 10), std::uint8_t(100 + i), 0});
    return table;
}

// RGBA of palette entry i, with the mask's alpha.
bytes entry(unsigned i, std::uint8_t alpha) {
    return {std::uint8_t(100 + i), std::uint8_t(i * 10), std::uint8_t(i), alpha};
}

bytes join(const std::vector<bytes>& parts) {
    bytes out;
    for (const bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct decode_row {
    const char* name;
    bytes data;
    image_status status;
    bytes pixels;  // top row first
};

std::vector<decode_row> decode_rows() {
    // Masks: top row's middle pixel and bottom row's last pixel transparent.
    const std::vector<std::uint8_t> mask = {0x40, 0x20};
    std::vector<decode_row> rows;
    rows.push_back(
        {"1 bit", bitmap(1, palette(1), {{0xA0}, {0x40}}, mask), image_status::ok,
         join({entry(1, 255), entry(0, 0), entry(1, 255), entry(0, 255), entry(1, 255), entry(0, 0)})});
    rows.push_back(
        {"4 bits", bitmap(4, palette(4), {{0x12, 0x30}, {0xF0, 0xE0}}, mask), image_status::ok,
         join({entry(1, 255), entry(2, 0), entry(3, 255), entry(15, 255), entry(0, 255), entry(14, 0)})});
    rows.push_back(
        {"8 bits", bitmap(8, palette(8), {{7, 200, 255}, {0, 1, 2}}, mask), image_status::ok,
         join({entry(7, 255), entry(200, 0), entry(255, 255), entry(0, 255), entry(1, 255), entry(2, 0)})});
    rows.push_back(
        {"24 bits",
         bitmap(24, {}, {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}}, mask),
         image_status::ok,
         {3, 2, 1, 255, 6, 5, 4, 0, 9, 8, 7, 255, 12, 11, 10, 255, 15, 14, 13, 255, 18, 17, 16, 0}});
    // 32 bits: alpha as stored, the mask ignored, even where it says
    // transparent over an opaque pixel.
    const std::vector<bytes> bgra = {{1, 2, 3, 0, 4, 5, 6, 128, 7, 8, 9, 255},
                                     {10, 11, 12, 255, 13, 14, 15, 1, 16, 17, 18, 0}};
    rows.push_back({"32 bits with alpha",
                    bitmap(32, {}, bgra, mask),
                    image_status::ok,
                    {3, 2, 1, 0, 6, 5, 4, 128, 9, 8, 7, 255, 12, 11, 10, 255, 15, 14, 13, 1, 18, 17, 16, 0}});
    // Alpha all zero: made before alpha was read; the mask decides.
    const std::vector<bytes> no_alpha = {{1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0},
                                         {10, 11, 12, 0, 13, 14, 15, 0, 16, 17, 18, 0}};
    rows.push_back(
        {"32 bits, alpha all zero",
         bitmap(32, {}, no_alpha, mask),
         image_status::ok,
         {3, 2, 1, 255, 6, 5, 4, 0, 9, 8, 7, 255, 12, 11, 10, 255, 15, 14, 13, 255, 18, 17, 16, 0}});

    const bytes four = bitmap(4, palette(4), {{0x12, 0x30}, {0xF0, 0xE0}}, mask);
    // The 4-bit image is 40 + 64 + 2 * 4 + 2 * 4 = 120 bytes.
    for (const std::size_t length : {0u, 39u, 40u, 103u, 111u, 119u})
        rows.push_back({"cut", cut(four, length), image_status::truncated, {}});
    rows.push_back(
        {"trailing bytes", cut(four, 130), image_status::ok,
         join({entry(1, 255), entry(2, 0), entry(3, 255), entry(15, 255), entry(0, 255), entry(14, 0)})});
    // biSize 124 (a larger header): the table starts 84 bytes later.
    bytes larger = four;
    larger.insert(larger.begin() + 40, 84, 0xEE);
    rows.push_back(
        {"larger header", patched(larger, 0, 124), image_status::ok,
         join({entry(1, 255), entry(2, 0), entry(3, 255), entry(15, 255), entry(0, 255), entry(14, 0)})});
    rows.push_back({"larger header, cut", cut(patched(larger, 0, 124), 203), image_status::truncated, {}});
    rows.push_back({"16 bits", patched(four, 14, 16, 2), image_status::unsupported, {}});
    rows.push_back({"biSize 12", patched(four, 0, 12), image_status::unsupported, {}});
    rows.push_back({"biSize 125", patched(four, 0, 125), image_status::unsupported, {}});
    rows.push_back({"run-length compressed", patched(four, 16, 2), image_status::unsupported, {}});
    rows.push_back({"top-down", patched(four, 8, 0xFFFFFFFC), image_status::unsupported, {}});
    rows.push_back({"biWidth 0", patched(four, 4, 0), image_status::corrupt, {}});
    rows.push_back({"biHeight 1", patched(four, 8, 1), image_status::corrupt, {}});
    rows.push_back({"2^31 - 1 wide", patched(four, 4, 0x7FFFFFFF), image_status::too_large, {}});
    return rows;
}

TEST(IconBitmap, DecodesEveryDepthAndTheMask) {
    for (const decode_row& r : decode_rows()) {
        SCOPED_TRACE(r.name);
        rgba_image image;
        EXPECT_EQ(decode_icon_bitmap(r.data.data(), r.data.size(), image), r.status);
        EXPECT_TRUE(image.pixels == r.pixels);
        EXPECT_EQ(image.width, r.pixels.empty() ? 0u : 3u);
        EXPECT_EQ(image.height, r.pixels.empty() ? 0u : 2u);
    }
}

// A checker that decodes only what an icon can show passes its limits.
TEST(IconBitmap, LimitsAreCheckedBeforeAllocating) {
    bytes big = bitmap(32, {}, {{}, {}}, {0, 0});
    big = patched(patched(big, 4, 257), 8, 2 * 16);
    rgba_image image;
    EXPECT_EQ(decode_icon_bitmap(big.data(), big.size(), image, {256, 65536}), image_status::too_large);
    // Allowed, and then 257 x 16 pixels of data are missing.
    EXPECT_EQ(decode_icon_bitmap(big.data(), big.size(), image), image_status::truncated);
}

// 3 x 2 RGBA with a transparent pixel of some colour: BGRA rows bottom-up
// (the transparent one black), the mask's bit set where alpha is 0.
TEST(IconBitmap, EncodesA32BitBitmapWithItsMask) {
    rgba_image image;
    make_image(3, 2, image);
    image.pixels = {1, 2, 3, 255, 4, 5, 6, 0, 7, 8, 9, 128, 10, 11, 12, 1, 13, 14, 15, 255, 16, 17, 18, 255};
    bytes got;
    ASSERT_EQ(encode_icon_bitmap(image, got), image_status::ok);
    bytes want;
    for (const std::uint32_t field : {40u, 3u, 4u}) put_u32(want, field);
    put_u16(want, 1);
    put_u16(want, 32);
    for (const std::uint32_t field : {0u, 2u * 12u + 2u * 4u, 0u, 0u, 0u, 0u}) put_u32(want, field);
    want.insert(want.end(), {12, 11, 10, 1, 15, 14, 13, 255, 18, 17, 16, 255});  // bottom row
    want.insert(want.end(), {3, 2, 1, 255, 0, 0, 0, 0, 9, 8, 7, 128});           // top row
    want.insert(want.end(), {0x00, 0, 0, 0, 0x40, 0, 0, 0});                     // masks, bottom first
    EXPECT_EQ(got, want);

    rgba_image back;
    ASSERT_EQ(decode_icon_bitmap(got.data(), got.size(), back), image_status::ok);
    image.pixels[4] = image.pixels[5] = image.pixels[6] = 0;
    EXPECT_EQ(back.pixels, image.pixels);
}

}  // namespace
