// PE files that carry resources, built byte by byte from the PE layout for
// the tests and the fuzz seeds, independently of the library under test:
// an MS-DOS header, the PE header, one section (.rsrc) and in it the
// resource tree, its data entries, names and data. The builder also makes
// an icon or cursor file's resources as resource compilers do, and says
// where each structure lies, for tests that break them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ico_builder.hpp"

namespace icon_test {

// Resource types.
inline constexpr std::uint16_t rt_cursor = 1;
inline constexpr std::uint16_t rt_icon = 3;
inline constexpr std::uint16_t rt_group_cursor = 12;
inline constexpr std::uint16_t rt_group_icon = 14;

struct pe_resource {
    std::uint16_t type;
    std::u16string name;  // empty: the resource is known by `id`
    std::uint16_t id;
    bytes data;
    std::uint16_t language = 1033;
};

// A built file and where its parts lie, as file offsets.
struct pe_built {
    bytes file;
    std::size_t optional_at;                // the optional header
    std::size_t section_at;                 // the .rsrc section's header
    std::size_t tree_at;                    // the tree's root directory
    std::uint32_t tree_rva;                 // its RVA
    std::vector<std::size_t> directories;   // every directory: the root, the types', the names'
    std::vector<std::size_t> data_entries;  // each resource's data entry, in the order given
    std::vector<std::size_t> data_at;       // each resource's bytes, in the order given
};

// A resource-only library, PE32 or PE32+, holding `resources`. Each level
// of the tree lists named entries first, then ids in ascending order.
pe_built pe_file(const std::vector<pe_resource>& resources, bool pe32_plus = false);

// The resources a resource compiler makes of one icon (or cursor) file
// `ico`: one RT_ICON (RT_CURSOR, its hotspot first) per image with ids from
// `first_id`, and a group, named `name` or numbered `id`, whose entries are
// the file's entries with each image's id. A cursor group's entries give
// the width, twice the height, 1 plane and 1 bit, and the size with the hotspot.
std::vector<pe_resource> group_resources(const bytes& ico, const std::u16string& name, std::uint16_t id,
                                         std::uint16_t first_id);

// Concatenates lists of resources.
std::vector<pe_resource> joined(std::vector<std::vector<pe_resource>> lists);

}  // namespace icon_test
