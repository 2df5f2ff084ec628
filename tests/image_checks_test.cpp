// What examine_image answers about an image's own bytes, which a program
// that makes directory entries builds them from, and the CRC-32 against
// known values. The findings of each check are lint_test's table.
#include "image_checks.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "png_records.hpp"
#include "test_support.hpp"

using namespace icon_test;

namespace {

struct facts_row {
    const char* name;
    bytes image;
    image_kind kind;
    std::int32_t width, height;
    std::uint16_t bit_count;
    std::uint8_t color_count;
    std::int64_t size;
};

TEST(ImageChecks, FactsOfEachKind) {
    const bytes png = png_stream(48, 32, 8, 6, 100);
    const std::vector<facts_row> rows = {
        {"RGBA PNG", png, image_kind::png, 48, 32, 32, 0, std::int64_t(png.size())},
        {"palette PNG", png_stream(16, 16, 4, 3, 16), image_kind::png, 16, 16, 4, 0, 8 + 25 + 18 + 28 + 12},
        // Trailing bytes after IEND are not part of the stream.
        {"PNG with trailing bytes", cut(png, png.size() + 7), image_kind::png, 48, 32, 32, 0,
         std::int64_t(png.size())},
        {"PNG without IEND", cut(png, png.size() - 12), image_kind::png, 48, 32, 32, 0, -1},
        {"1-bit bitmap", sized_bitmap(16, 32, 1), image_kind::bitmap, 16, 16, 1, 2,
         reference_size(16, 32, 1)},
        {"8-bit bitmap", sized_bitmap(32, 64, 8), image_kind::bitmap, 32, 32, 8, 0,
         reference_size(32, 64, 8)},
        // Its table holds the 5 colours biClrUsed says, not 16.
        {"4-bit bitmap of 5 colours", patched(sized_bitmap(16, 32, 4), 32, 5), image_kind::bitmap, 16, 16, 4,
         5, reference_size(16, 32, 4) - 4 * (16 - 5)},
        {"24-bit bitmap", sized_bitmap(48, 96, 24), image_kind::bitmap, 48, 48, 24, 0,
         reference_size(48, 96, 24)},
        {"header cut", cut(sized_bitmap(16, 32, 4), 20), image_kind::unknown, 0, 0, 0, 0, -1},
    };
    for (const facts_row& r : rows) {
        bytes data = r.image;
        const memory_stream stream(data);
        std::vector<finding> found;
        const image_facts facts =
            examine_image(stream.get(), 0, 0, std::int64_t(data.size()), std::int32_t(data.size()), found);
        EXPECT_EQ(facts.kind, r.kind) << r.name;
        EXPECT_EQ(facts.width, r.width) << r.name;
        EXPECT_EQ(facts.height, r.height) << r.name;
        EXPECT_EQ(facts.bit_count, r.bit_count) << r.name;
        EXPECT_EQ(facts.color_count, r.color_count) << r.name;
        EXPECT_EQ(facts.size, r.size) << r.name;
    }
}

#ifndef _WIN32
// An image where the stream cannot be positioned is an error, never silence.
TEST(ImageChecks, AnImageThatCannotBeReachedIsAnError) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::FILE* const stream = fdopen(ends[0], "rb");
    ASSERT_NE(stream, nullptr);
    std::vector<finding> found;
    const image_facts facts = examine_image(stream, 3, 0xC0000000, 100, 100, found);
    std::fclose(stream);
    close(ends[1]);
    EXPECT_EQ(facts.kind, image_kind::unknown);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_STREQ(found[0].id, "image-unreachable");
    EXPECT_EQ(found[0].level, severity::error);
    EXPECT_EQ(found[0].message,
              "the image at byte 3221225472 can't be read: the file can't be positioned there");
}
#endif

TEST(ImageChecks, Crc32MatchesKnownValues) {
    const std::string digits = "123456789";
    EXPECT_EQ(crc32_update(0, reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()),
              0xCBF43926u);
    EXPECT_EQ(crc32_update(0, nullptr, 0), 0u);
    // Fed in two pieces, the same as whole, and the same as the reference.
    bytes data(10000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + 7);
    const std::uint32_t first = crc32_update(0, data.data(), 4321);
    EXPECT_EQ(crc32_update(first, data.data() + 4321, data.size() - 4321), reference_crc(data));
}

}  // namespace
