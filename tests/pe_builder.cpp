#include "pe_builder.hpp"

#include <algorithm>
#include <map>
#include <tuple>

namespace icon_test {

namespace {

constexpr std::uint32_t section_rva = 0x1000;
constexpr std::size_t file_alignment = 0x200;

void put_at(bytes& out, std::size_t at, std::uint32_t value, std::size_t width) {
    if (out.size() < at + width) out.resize(at + width, 0);
    for (std::size_t i = 0; i < width; ++i)
        out[at + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
}

std::size_t aligned(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// One entry of a directory level: named entries sort before ids.
using entry_key = std::tuple<bool, std::u16string, std::uint16_t>;
entry_key key_of(const pe_resource& r) { return {r.name.empty(), r.name, r.id}; }

}  // namespace

pe_built pe_file(const std::vector<pe_resource>& resources, bool pe32_plus) {
    // The tree: type -> name -> language -> the resource's index.
    std::map<std::uint16_t, std::map<entry_key, std::map<std::uint16_t, std::size_t>>> tree;
    for (std::size_t i = 0; i < resources.size(); ++i) {
        tree[resources[i].type][key_of(resources[i])][resources[i].language] = i;
    }

    // Directories first, then data entries, names and data.
    pe_built built;
    std::size_t at = 16 + 8 * tree.size();
    std::map<std::uint16_t, std::size_t> type_dirs;
    for (const auto& [type, names] : tree) {
        type_dirs[type] = at;
        at += 16 + 8 * names.size();
    }
    std::map<std::pair<std::uint16_t, entry_key>, std::size_t> name_dirs;
    for (const auto& [type, names] : tree) {
        for (const auto& [key, languages] : names) {
            name_dirs[{type, key}] = at;
            at += 16 + 8 * languages.size();
        }
    }
    const std::size_t entries_at = at;
    at += 16 * resources.size();
    std::map<std::u16string, std::size_t> strings;
    for (const pe_resource& r : resources) {
        if (!r.name.empty() && strings.try_emplace(r.name, at).second) at += 2 + 2 * r.name.size();
    }
    std::vector<std::size_t> data_at;
    for (const pe_resource& r : resources) {
        at = aligned(at, 8);
        data_at.push_back(at);
        at += r.data.size();
    }
    const std::size_t tree_size = at;

    bytes rsrc(tree_size, 0);
    const auto directory = [&rsrc](std::size_t where, std::size_t named, std::size_t ids) {
        put_at(rsrc, where + 12, static_cast<std::uint32_t>(named), 2);
        put_at(rsrc, where + 14, static_cast<std::uint32_t>(ids), 2);
    };
    const auto name_field = [&strings](const entry_key& key) {
        return std::get<1>(key).empty()
                   ? std::uint32_t{std::get<2>(key)}
                   : 0x80000000u | static_cast<std::uint32_t>(strings.at(std::get<1>(key)));
    };
    directory(0, 0, tree.size());
    built.directories.push_back(0);
    std::size_t slot = 16;
    for (const auto& [type, names] : tree) {
        put_at(rsrc, slot, type, 4);
        put_at(rsrc, slot + 4, 0x80000000u | static_cast<std::uint32_t>(type_dirs[type]), 4);
        slot += 8;
        const auto named = static_cast<std::size_t>(std::count_if(
            names.begin(), names.end(), [](const auto& n) { return !std::get<1>(n.first).empty(); }));
        directory(type_dirs[type], named, names.size() - named);
        built.directories.push_back(type_dirs[type]);
        std::size_t name_slot = type_dirs[type] + 16;
        for (const auto& [key, languages] : names) {
            const std::size_t dir = name_dirs[{type, key}];
            put_at(rsrc, name_slot, name_field(key), 4);
            put_at(rsrc, name_slot + 4, 0x80000000u | static_cast<std::uint32_t>(dir), 4);
            name_slot += 8;
            directory(dir, 0, languages.size());
            built.directories.push_back(dir);
            std::size_t language_slot = dir + 16;
            for (const auto& [language, index] : languages) {
                put_at(rsrc, language_slot, language, 4);
                put_at(rsrc, language_slot + 4, static_cast<std::uint32_t>(entries_at + 16 * index), 4);
                language_slot += 8;
            }
        }
    }
    for (std::size_t i = 0; i < resources.size(); ++i) {
        const std::size_t entry = entries_at + 16 * i;
        put_at(rsrc, entry, static_cast<std::uint32_t>(section_rva + data_at[i]), 4);
        put_at(rsrc, entry + 4, static_cast<std::uint32_t>(resources[i].data.size()), 4);
        std::copy(resources[i].data.begin(), resources[i].data.end(),
                  rsrc.begin() + static_cast<long>(data_at[i]));
    }
    for (const auto& [name, where] : strings) {
        put_at(rsrc, where, static_cast<std::uint32_t>(name.size()), 2);
        for (std::size_t k = 0; k < name.size(); ++k) put_at(rsrc, where + 2 + 2 * k, name[k], 2);
    }

    // The headers: MS-DOS header, PE header, optional header, one section.
    bytes& out = built.file;
    const std::size_t lfanew = 64;
    const std::size_t optional_size = pe32_plus ? 112 + 16 * 8 : 96 + 16 * 8;
    put_at(out, 0, 'M' | ('Z' << 8), 2);
    put_at(out, 60, static_cast<std::uint32_t>(lfanew), 4);
    put_at(out, lfanew, 'P' | ('E' << 8), 4);
    put_at(out, lfanew + 4, pe32_plus ? 0x8664 : 0x14C, 2);  // Machine
    put_at(out, lfanew + 6, 1, 2);                           // NumberOfSections
    put_at(out, lfanew + 20, static_cast<std::uint32_t>(optional_size), 2);
    put_at(out, lfanew + 22, pe32_plus ? 0x2022 : 0x2102, 2);  // a DLL
    built.optional_at = lfanew + 24;
    const std::size_t o = built.optional_at;
    const std::size_t raw_size = aligned(tree_size, file_alignment);
    put_at(out, o, pe32_plus ? 0x20B : 0x10B, 2);
    put_at(out, o + 32, section_rva, 4);                                 // SectionAlignment
    put_at(out, o + 36, static_cast<std::uint32_t>(file_alignment), 4);  // FileAlignment
    put_at(out, o + 56, static_cast<std::uint32_t>(section_rva + aligned(tree_size, section_rva)), 4);
    put_at(out, o + 60, static_cast<std::uint32_t>(file_alignment), 4);  // SizeOfHeaders
    put_at(out, o + 68, 2, 2);                                           // a GUI subsystem
    const std::size_t directories = o + (pe32_plus ? 112 : 96);
    put_at(out, directories - 4, 16, 4);  // NumberOfRvaAndSizes
    put_at(out, directories + 16, section_rva, 4);
    put_at(out, directories + 20, static_cast<std::uint32_t>(tree_size), 4);
    built.section_at = o + optional_size;
    const std::size_t s = built.section_at;
    const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
    for (std::size_t k = 0; k < 8; ++k) put_at(out, s + k, static_cast<std::uint8_t>(name[k]), 1);
    put_at(out, s + 8, static_cast<std::uint32_t>(tree_size), 4);  // VirtualSize
    put_at(out, s + 12, section_rva, 4);
    put_at(out, s + 16, static_cast<std::uint32_t>(raw_size), 4);
    put_at(out, s + 20, static_cast<std::uint32_t>(file_alignment), 4);
    put_at(out, s + 36, 0x40000040u, 4);  // initialised data, readable
    out.resize(file_alignment, 0);
    out.insert(out.end(), rsrc.begin(), rsrc.end());
    out.resize(file_alignment + raw_size, 0);

    built.tree_at = file_alignment;
    built.tree_rva = section_rva;
    for (std::size_t& d : built.directories) d += file_alignment;
    for (std::size_t i = 0; i < resources.size(); ++i) {
        built.data_entries.push_back(file_alignment + entries_at + 16 * i);
        built.data_at.push_back(file_alignment + data_at[i]);
    }
    return built;
}

std::vector<pe_resource> group_resources(const bytes& ico, const std::u16string& name, std::uint16_t id,
                                         std::uint16_t first_id) {
    const auto u16 = [&ico](std::size_t at) {
        return static_cast<std::uint16_t>(ico.at(at) | ico.at(at + 1) << 8);
    };
    const bool cursor = u16(2) == 2;
    const std::uint16_t count = u16(4);
    std::vector<pe_resource> out;
    bytes group;
    put_u16(group, 0);
    put_u16(group, cursor ? 2 : 1);
    put_u16(group, count);
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::size_t entry = entry_at(i);
        const std::uint32_t size = u32_at(ico, entry + 8);
        const std::uint32_t offset = u32_at(ico, entry + 12);
        const auto image_id = static_cast<std::uint16_t>(first_id + i);
        bytes image;
        if (cursor) {
            put_u16(image, u16(entry + 4));
            put_u16(image, u16(entry + 6));
            const std::uint16_t width = ico.at(entry) == 0 ? 256 : ico.at(entry);
            const std::uint16_t height = ico.at(entry + 1) == 0 ? 256 : ico.at(entry + 1);
            put_u16(group, width);
            put_u16(group, static_cast<std::uint16_t>(2 * height));
            put_u16(group, 1);
            put_u16(group, 1);
            put_u32(group, size + 4);
        } else {
            group.insert(group.end(), ico.begin() + static_cast<long>(entry),
                         ico.begin() + static_cast<long>(entry + 12));
        }
        put_u16(group, image_id);
        image.insert(image.end(), ico.begin() + offset, ico.begin() + offset + size);
        out.push_back({cursor ? rt_cursor : rt_icon, u"", image_id, image});
    }
    out.push_back({cursor ? rt_group_cursor : rt_group_icon, name, id, group});
    return out;
}

std::vector<pe_resource> joined(std::vector<std::vector<pe_resource>> lists) {
    std::vector<pe_resource> out;
    for (std::vector<pe_resource>& list : lists) out.insert(out.end(), list.begin(), list.end());
    return out;
}

}  // namespace icon_test
