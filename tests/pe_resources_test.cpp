// The PE walk's pure parts (RVAs through sections, names from UTF-16) and
// the image it picks for a group of one language. What the walk gives of
// whole files is extract_test's: the files written, byte for byte, and
// hostile files in its bad-input table.
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

// An image in the group's language is taken before one of another.
TEST(PeResources, ImagesInTheGroupsLanguage) {
    const bytes english = png_stream(16, 16);
    const bytes german = png_stream(32, 32, 8, 6, 100);
    // The German icon comes first in the tree (language 1031 before 1033);
    // the group is English.
    std::vector<pe_resource> resources = group_resources(icon_file({english}), u"", 1, 1);
    resources.push_back({rt_icon, u"", 1, german, 1031});
    const pe_report report = walk(pe_file(resources).file);
    ASSERT_EQ(report.groups.size(), 1u);
    ASSERT_EQ(report.groups[0].images.size(), 1u);
    EXPECT_EQ(report.groups[0].language, 1033);
    EXPECT_EQ(report.groups[0].images[0].size, static_cast<std::int32_t>(english.size()));
    // A group in a language no icon has takes the first.
    for (pe_resource& r : resources) r.language = r.type == rt_group_icon ? 1036 : r.language;
    const pe_report french = walk(pe_file(resources).file);
    ASSERT_EQ(french.groups.size(), 1u);
    ASSERT_EQ(french.groups[0].images.size(), 1u);
    EXPECT_EQ(french.groups[0].images[0].size, static_cast<std::int32_t>(german.size()));
}

}  // namespace
