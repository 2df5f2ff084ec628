// The image checks on built images: each row one fault and the findings it
// must give, by check id and severity, and the CRC-32 against known values.
#include "image_checks.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "png_records.hpp"
#include "test_support.hpp"

using namespace icon_test;

namespace {

// "id:severity" of every finding about the images of `data`, in order.
std::vector<std::string> image_findings(bytes data) {
    const memory_stream stream(data);
    std::vector<finding> found;
    ICONDIR dir{};
    EXPECT_EQ(read_icon_dir(stream.get(), dir), IO_OK);
    for (std::int32_t i = 0; i < dir.idCount; ++i) {
        ICONDIRENTRY entry{};
        EXPECT_EQ(stream_seek(stream.get(), SEEK_FROM_START, icon_dir_entry_offset(i)), IO_OK);
        EXPECT_EQ(read_icon_dir_entry(stream.get(), entry), IO_OK);
        const auto offset = std::int64_t{entry.dwImageOffset};
        const image_facts facts = examine_image(stream.get(), i, offset, std::int64_t(data.size()) - offset,
                                                entry.dwBytesInRes, found);
        check_entry(i, entry, dir.idType, facts, found);
    }
    std::vector<std::string> ids;
    for (const finding& f : found) ids.push_back(std::string(f.id) + ":" + severity_name(f.level));
    return ids;
}

struct row {
    const char* name;
    bytes file;
    std::vector<std::string> want;
};

// A one-image file whose entry matches its image (16 x 16, 32 bits).
bytes png_icon(const bytes& png) { return icon_file({png}); }

std::vector<row> rows() {
    const bytes png = png_stream(16, 16);
    const std::size_t crc_at = 8 + 8 + 13;  // the IHDR's CRC
    return {
        {"clean PNG", png_icon(png), {}},
        {"clean 32-bit bitmap", icon_file({sized_bitmap(16, 32, 32)}), {}},
        {"PNG wider than its entry", png_icon(png_stream(32, 16)), {"png-size-mismatch:error"}},
        {"PNG CRC", png_icon(patched(png, crc_at, 0x12345678)), {"png-crc:error"}},
        {"PNG cut before IEND", icon_file({cut(png, png.size() - 12)}), {"image-truncated:error"}},
        {"PNG not RGBA",
         png_icon(png_stream(16, 16, 8, 2)),
         {"png-not-rgba:warning", "entry-bit-count:warning"}},
        {"bitmap height not doubled",
         icon_file({sized_bitmap(16, 16, 32)}),
         {"bitmap-height-not-doubled:error"}},
    };
}

TEST(ImageChecks, EachFaultGivesItsFindings) {
    for (const row& r : rows()) EXPECT_EQ(image_findings(r.file), r.want) << r.name;
}

TEST(ImageChecks, Crc32MatchesKnownValues) {
    const std::string digits = "123456789";
    EXPECT_EQ(crc32_update(0, reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()),
              0xCBF43926u);
    EXPECT_EQ(crc32_update(0, nullptr, 0), 0u);
    // Fed in two pieces, the same as whole; and the same as the reference.
    bytes data(10000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + 7);
    const std::uint32_t first = crc32_update(0, data.data(), 4321);
    EXPECT_EQ(crc32_update(first, data.data() + 4321, data.size() - 4321), reference_crc(data));
}

}  // namespace
