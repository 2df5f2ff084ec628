// Writes the starting corpus of a fuzz target into a folder, built here from
// the ICO and PE layouts: make_seeds <records|inspector|bundler|lint|pack|extract> <folder>.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bundle_inputs.hpp"
#include "ico_builder.hpp"
#include "pe_builder.hpp"

namespace {

using icon_test::bitmap_image;
using icon_test::bytes;
using icon_test::cut;
using icon_test::icon_file;
using icon_test::patched;
using icon_test::png_image;
using icon_test::png_stream;
using icon_test::sized_bitmap;

// Windows libraries, 32- and 64-bit, holding icon and cursor groups of PNG
// images and bitmaps, named and numbered, and the same broken as hostile
// files break them: a tree that loops, a section past the end, sizes past
// 4 GiB, groups that name missing or shared images.
std::vector<bytes> pe_files() {
    using icon_test::group_resources;
    using icon_test::joined;
    const bytes png = png_stream(16, 16);
    const bytes icons = icon_file({png, sized_bitmap(32, 64, 4), png_stream(48, 48, 8, 2)});
    const bytes cursor = patched(icon_file({sized_bitmap(16, 32, 1)}, 2), 6 + 4, 0x00050003u);
    const std::vector<icon_test::pe_resource> resources =
        joined({group_resources(icons, u"", 1, 1), group_resources(icon_file({png}), u"MAIN", 0, 4),
                group_resources(cursor, u"", 2, 1)});
    const icon_test::pe_built small = icon_test::pe_file(group_resources(icon_file({png}), u"", 1, 1));
    const icon_test::pe_built both = icon_test::pe_file(resources);
    const std::size_t types = small.tree_at + 16;
    return {
        both.file,
        icon_test::pe_file(resources, true).file,
        small.file,
        patched(small.file, types + 8 + 4, 0x80000000u),              // the groups' directory is the root
        patched(small.file, small.section_at + 20, 0x10000),          // the section past the end
        patched(small.file, small.data_entries[0] + 4, 0xFFFFFFFFu),  // an icon's size past 4 GiB
        patched(small.file, small.data_entries[1], small.tree_rva + 160),  // the group over the icon's bytes
        patched(small.file, small.data_at[1] + 4, 50, 2),         // more entries than the group holds
        patched(small.file, small.data_at[1] + 6 + 12, 9, 2),     // a missing icon
        patched(both.file, both.data_at[3] + 6 + 14 + 12, 1, 2),  // one icon named twice
        patched(both.file, 64, 'N' | 'E' << 8, 2),                // a 16-bit program
        cut(both.file, 300),
    };
}

// Icon files the inspector and the bundler meet: every accepted depth, PNG,
// cursors, odd and negative sizes, wrapped sizes, cut and hostile directories.
std::vector<bytes> icon_files() {
    const bytes mixed = icon_file({sized_bitmap(16, 32, 4), sized_bitmap(32, 64, 32), png_image(100)});
    std::vector<bytes> files = {
        mixed,
        icon_file({sized_bitmap(16, 32, 1), sized_bitmap(16, 32, 8), sized_bitmap(8, 16, 16),
                   sized_bitmap(4, 8, 24)}),
        icon_file({png_image(60)}, 2),
        icon_file({}),
        icon_file({bitmap_image(16, 33, 4, 296), bitmap_image(-16, 32, 4, 40), bitmap_image(16, -32, 4, 40)}),
        icon_file({bitmap_image(16, INT32_MIN, 32, 40), bitmap_image(1 << 30, 64, 4, 104)}),
        icon_file({bitmap_image(16, 32, 3, 264), bitmap_image(16, 32, 0, 108), bitmap_image(16, 32, 9, 424)}),
        patched(mixed, 6 + 8, 0x7FFFFFFF),
        patched(mixed, 6 + 12, 0x80000000),
        patched(mixed, 6 + 16 + 12, 6),
        patched(icon_file({png_image(48)}), 6 + 8, 0xFFFFFFF0),
        cut(mixed, 6 + 16 + 9),
        cut(mixed, 100),
        {0, 0, 1, 0, 0xFF, 0xFF},
    };
    return files;
}

void save(const std::filesystem::path& folder, const std::string& name, const bytes& data) {
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s records|inspector|bundler|lint|pack|extract folder\n", argv[0]);
        return 2;
    }
    const std::string target = argv[1];
    const std::filesystem::path folder = argv[2];
    std::filesystem::create_directories(folder);
    const std::vector<bytes> files = icon_files();
    int n = 0;
    const auto name = [&n] { return "seed-" + std::to_string(n++); };
    if (target == "records") {
        // Headers and directory records at the start of the bytes.
        for (const bytes& image : {sized_bitmap(16, 32, 4), bitmap_image(-100, 32, 1, 40),
                                   bitmap_image(INT32_MAX, 2, 32, 40), png_image(40)}) {
            save(folder, name(), cut(image, 40));
        }
        for (const bytes& file : files) save(folder, name(), cut(file, 22));
        save(folder, name(), {});
    } else if (target == "inspector") {
        for (const bytes& file : files) save(folder, name(), file);
    } else if (target == "bundler") {
        for (const bytes& file : files) save(folder, name(), fuzz::join_inputs(0, {file}));
        save(folder, name(), fuzz::join_inputs(fuzz::repeat_first_input, {files[0], files[1], files[2]}));
        save(folder, name(), fuzz::join_inputs(fuzz::add_missing_input, {files[4], {}, files[5]}));
    } else if (target == "lint") {
        // Besides those, real PNG streams: whole, damaged, cut and in cursors.
        for (const bytes& file : files) save(folder, name(), file);
        const bytes png = icon_test::png_stream(16, 16);
        const bytes pngs =
            icon_file({png, icon_test::png_stream(32, 32, 8, 2), icon_test::png_stream(300, 2, 16, 0)});
        for (const bytes& file :
             {pngs, patched(pngs, 6 + 48 + 29, 0x12345678), cut(pngs, pngs.size() - 20),
              patched(pngs, 6 + 48 + 33, 0x80), icon_file({png, png}, 2),
              patched(icon_file({png, sized_bitmap(16, 32, 4)}), 6 + 16 + 12, 6 + 32 + 10)}) {
            save(folder, name(), file);
        }
    } else if (target == "pack") {
        // PNG files of several sizes and depths, icon files holding them,
        // cursors, and the same files broken. The first byte: bit 0 keeps
        // the order given, bit 1 writes over the first input.
        const bytes p16 = png_stream(16, 16);
        const bytes p48 = png_stream(48, 48, 8, 2);
        const bytes p256 = png_stream(256, 256, 8, 6, 64);
        const bytes pngs = icon_file({p16, p48, sized_bitmap(32, 64, 8)});
        save(folder, name(), fuzz::join_inputs(0, {p48, p16, p256}));
        save(folder, name(), fuzz::join_inputs(1, {p16, pngs, files[0]}));
        save(folder, name(), fuzz::join_inputs(2, {pngs, p256}));
        save(folder, name(), fuzz::join_inputs(0, {files[2], icon_file({sized_bitmap(32, 64, 4)}, 2)}));
        save(folder, name(), fuzz::join_inputs(0, {files[2], p16}));
        save(folder, name(), fuzz::join_inputs(0, {patched(p16, p16.size() - 4, 0), files[1]}));
        save(folder, name(), fuzz::join_inputs(0, {cut(p48, 40), files[7]}));
        for (const bytes& file : files) save(folder, name(), fuzz::join_inputs(0, {file}));
    } else if (target == "extract") {
        // Icon, cursor and PE files behind a first byte of options: bit 0
        // --png, bit 1 JSON.
        std::uint8_t options = 0;
        const auto with_options = [&options](const bytes& file) {
            bytes data{static_cast<std::uint8_t>(options++ % 4)};
            data.insert(data.end(), file.begin(), file.end());
            return data;
        };
        for (const bytes& file : files) save(folder, name(), with_options(file));
        for (const bytes& file : pe_files()) save(folder, name(), with_options(file));
        save(folder, name(), with_options(icon_file({png_stream(16, 16), png_stream(32, 32, 8, 2)}, 2)));
    } else {
        std::fprintf(stderr, "unknown target %s\n", target.c_str());
        return 2;
    }
    return 0;
}
