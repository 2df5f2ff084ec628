// The PE walk's pure parts (RVAs through sections, names from UTF-16) and
// what it answers about well-formed files built by hand: the groups in
// order, each image where its resource lies. Hostile files are rows of
// extract_test's bad-input table.
#include "pe_resources.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pe_builder.hpp"
#include "test_support.hpp"

using namespace icon_test;

namespace {

IMAGE_SECTION_HEADER section(std::uint32_t rva, std::uint32_t virtual_size, std::uint32_t raw_size,
                             std::uint32_t raw_at) {
    IMAGE_SECTION_HEADER s{};
    s.VirtualAddress = rva;
    s.VirtualSize = virtual_size;
    s.SizeOfRawData = raw_size;
    s.PointerToRawData = raw_at;
    return s;
}

TEST(PeResources, RvasThroughSections) {
    // The first maps 0x300 bytes (its VirtualSize), the second 0x200 (its
    // raw size, VirtualSize 0), the third lies past the end of the file.
    const std::vector<IMAGE_SECTION_HEADER> sections = {section(0x1000, 0x300, 0x400, 0x400),
                                                        section(0x2000, 0, 0x200, 0x800),
                                                        section(0x3000, 0x100, 0x100, 0x10000)};
    struct row {
        std::uint32_t rva, size;
        rva_problem problem;
        std::int64_t offset;
    };
    const row rows[] = {
        {0x1000, 16, rva_problem::none, 0x400},    {0x1010, 0, rva_problem::none, 0x410},
        {0x12F0, 16, rva_problem::none, 0x6F0},    {0x12F0, 17, rva_problem::past_section, 0},
        {0x1300, 1, rva_problem::no_section, 0},   {0x2000, 0x200, rva_problem::none, 0x800},
        {0x21FF, 2, rva_problem::past_section, 0}, {0x3000, 4, rva_problem::past_file, 0},
        {0x0FFF, 4, rva_problem::no_section, 0},   {0xFFFFFFF0u, 0x20, rva_problem::wraps, 0},
    };
    for (const row& r : rows) {
        std::int64_t offset = 0;
        EXPECT_EQ(map_rva(sections, r.rva, r.size, 0x1000, offset), r.problem) << std::hex << r.rva;
        if (r.problem == rva_problem::none) {
            EXPECT_EQ(offset, r.offset) << std::hex << r.rva;
        }
    }
    EXPECT_EQ(resource_directory_offset(PE32_MAGIC), 112);
    EXPECT_EQ(resource_directory_offset(PE32_PLUS_MAGIC), 128);
    EXPECT_EQ(resource_directory_offset(0x107), -1);
}

TEST(PeResources, NamesFromUtf16) {
    struct row {
        std::vector<std::uint16_t> units;
        std::string utf8;
    };
    const row rows[] = {
        {{'M', 'A', 'I', 'N'}, "MAIN"},
        {{0xE9, 0x20AC}, "\xC3\xA9\xE2\x82\xAC"},
        {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {{0xD800, 'A'},
         "\xEF\xBF\xBD"
         "A"},
        {{'A', 0xDC00}, "A\xEF\xBF\xBD"},
        {{0xDC00, 0xD800}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const row& r : rows) EXPECT_EQ(utf8_of_utf16(r.units), r.utf8);
}

pe_report walk(const bytes& file) {
    const memory_stream stream(file);
    pe_report report;
    read_pe_resources(stream.get(), static_cast<std::int64_t>(file.size()), report);
    return report;
}

// The groups of a file, each as "name:language:cursor:images", and the
// bytes and hotspots of their images.
TEST(PeResources, GroupsInOrder) {
    const bytes png = png_stream(16, 16);
    const bytes bitmap = sized_bitmap(32, 64, 4);
    const bytes icons = icon_file({png, bitmap});
    const bytes cursor = patched(icon_file({sized_bitmap(16, 32, 1)}, 2), entry_at(0) + 4, 0x00050003u);
    for (const bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const pe_built built =
            pe_file(joined({group_resources(icons, u"", 7, 1), group_resources(cursor, u"", 2, 1),
                            group_resources(icon_file({png}), u"MAIN", 0, 3)}),
                    plus);
        const pe_report report = walk(built.file);
        EXPECT_TRUE(report.findings.empty());
        ASSERT_EQ(report.groups.size(), 3u);
        const resource_group& named = report.groups[0];
        const resource_group& seventh = report.groups[1];
        const resource_group& pointer = report.groups[2];
        EXPECT_EQ(resource_name_text(named.name), "MAIN");
        EXPECT_EQ(resource_name_text(seventh.name), "7");
        EXPECT_EQ(resource_name_text(pointer.name), "2");
        EXPECT_FALSE(seventh.cursor);
        EXPECT_TRUE(pointer.cursor);
        ASSERT_EQ(seventh.images.size(), 2u);
        ASSERT_EQ(pointer.images.size(), 1u);
        EXPECT_TRUE(seventh.findings.empty() && pointer.findings.empty() && named.findings.empty());
        const group_image& second = seventh.images[1];
        EXPECT_EQ(second.size, static_cast<std::int32_t>(bitmap.size()));
        EXPECT_EQ(bytes(built.file.begin() + second.offset, built.file.begin() + second.offset + second.size),
                  bitmap);
        EXPECT_EQ(second.entry.nID, 2);
        EXPECT_EQ(second.entry.wBitCount, 32);  // the icon file's entry, as it was
        const group_image& arrow = pointer.images[0];
        EXPECT_EQ(arrow.hotspot_x, 3);
        EXPECT_EQ(arrow.hotspot_y, 5);
        EXPECT_EQ(arrow.size, reference_size(16, 32, 1));
        EXPECT_EQ(u32_at(built.file, static_cast<std::size_t>(arrow.offset)), 40u);
    }
}

// An image in the group's language is taken before one of another.
TEST(PeResources, ImagesInTheGroupsLanguage) {
    const bytes english = png_stream(16, 16);
    const bytes german = png_stream(32, 32);
    std::vector<pe_resource> resources = group_resources(icon_file({german}), u"", 1, 1);
    resources[0].language = 1031;
    resources[1].language = 1031;
    resources.push_back({rt_icon, u"", 1, english, 1033});
    const pe_built built = pe_file(resources);
    const pe_report report = walk(built.file);
    ASSERT_EQ(report.groups.size(), 1u);
    ASSERT_EQ(report.groups[0].images.size(), 1u);
    EXPECT_EQ(report.groups[0].language, 1031);
    EXPECT_EQ(report.groups[0].images[0].size, static_cast<std::int32_t>(german.size()));
}

}  // namespace
