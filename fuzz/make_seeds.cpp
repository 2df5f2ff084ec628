// Writes the starting corpus of a fuzz target into a folder, built here from
// the ICO and PE layouts: make_seeds <records|inspector|bundler|lint|pack|extract|image> <folder>.
#include <spng.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bundle_inputs.hpp"
#include "ico_builder.hpp"
#include "pe_builder.hpp"
#include "png_codec.hpp"

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

// An image of each form the PNG encoder picks, encoded by it.
std::vector<bytes> encoded_pngs() {
    std::vector<bytes> out;
    for (int kind = 0; kind < 5; ++kind) {
        rgba_image image;
        const std::uint32_t side = 8u + 6u * static_cast<std::uint32_t>(kind);
        make_image(side, side, image);
        for (std::size_t i = 0; i < std::size_t{side} * side; ++i) {
            std::uint8_t* p = image.pixels.data() + i * 4;
            const auto v = static_cast<std::uint8_t>(i * 37);
            const std::uint8_t grey = kind == 0 ? (v & 1 ? 255 : 0) : v;
            p[0] = grey;
            p[1] = kind >= 3 ? static_cast<std::uint8_t>(i) : grey;
            p[2] = kind >= 3 ? static_cast<std::uint8_t>(i * 3) : grey;
            p[3] = kind == 2 || kind == 4 ? static_cast<std::uint8_t>(i * 5) : 255;
            if (kind == 1) p[0] = p[1] = p[2] = static_cast<std::uint8_t>(v % 4 * 85);
        }
        bytes png;
        if (encode_png(image, png) == image_status::ok) out.push_back(png);
    }
    return out;
}

// Interlaced streams of 16-bit RGBA and 2-bit grey, which the encoder never
// writes, through libspng directly.
bytes interlaced_png(std::uint8_t depth, std::uint8_t color_type) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{11, 9, depth, color_type, 0, 0, 1};
    spng_set_ihdr(ctx, &ihdr);
    const std::size_t stride = (11u * (color_type == 6 ? 4u : 1u) * depth + 7) / 8;
    bytes raw(stride * 9);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i * 29 + 3);
    bytes out;
    if (spng_encode_image(ctx, raw.data(), raw.size(), SPNG_FMT_RAW, SPNG_ENCODE_FINALIZE) == 0) {
        std::size_t length = 0;
        int error = 0;
        auto* png = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx, &length, &error));
        if (png != nullptr) out.assign(png, png + length);
        std::free(png);
    }
    spng_ctx_free(ctx);
    return out;
}

// The image target's input: four bytes of choices, then the image.
bytes image_input(std::uint8_t flags, std::uint8_t width, std::uint8_t height, const bytes& image) {
    bytes out = {flags, width, height, static_cast<std::uint8_t>(width ^ height)};
    out.insert(out.end(), image.begin(), image.end());
    return out;
}

// PNG streams of a 16 x 16 RGBA image that the readers fail, each for one
// fault of its structure: IHDR's compression, filter or interlace method,
// no IDAT, a critical chunk PNG does not define, IDAT chunks split by tEXt.
std::vector<bytes> broken_pngs() {
    const auto png = [](std::uint8_t compression, std::uint8_t filter, std::uint8_t interlace,
                        const std::vector<bytes>& chunks) {
        bytes out = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
        const bytes ihdr =
            icon_test::png_chunk("IHDR", {0, 0, 0, 16, 0, 0, 0, 16, 8, 6, compression, filter, interlace});
        out.insert(out.end(), ihdr.begin(), ihdr.end());
        for (const bytes& chunk : chunks) out.insert(out.end(), chunk.begin(), chunk.end());
        const bytes iend = icon_test::png_chunk("IEND", {});
        out.insert(out.end(), iend.begin(), iend.end());
        return out;
    };
    const bytes idat = icon_test::png_chunk("IDAT", {0x78, 0x01, 0x01, 0x00});
    return {png(1, 0, 0, {idat}),
            png(0, 1, 0, {idat}),
            png(0, 0, 2, {idat}),
            png(0, 0, 0, {}),
            png(0, 0, 0, {icon_test::png_chunk("ABCD", {1}), idat}),
            png(0, 0, 0, {idat, icon_test::png_chunk("tEXt", {'a', 0, 'b'}), idat})};
}

void save(const std::filesystem::path& folder, const std::string& name, const bytes& data) {
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s records|inspector|bundler|lint|pack|extract|image folder\n", argv[0]);
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
        for (const bytes& broken : broken_pngs()) save(folder, name(), icon_file({broken, png}));
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
        for (const bytes& broken : broken_pngs()) save(folder, name(), fuzz::join_inputs(0, {p16, broken}));
        // Real masters to make sizes from (bit 2 asks for 32, 16 and 5;
        // bit 3 a bitmap of 16; bit 4 linear light), beside kept sizes,
        // damaged, and too small to make every size from.
        const std::vector<bytes> masters = encoded_pngs();
        const bytes& master = masters.back();
        save(folder, name(), fuzz::join_inputs(4, {master}));
        save(folder, name(), fuzz::join_inputs(4 | 8, {master, p16}));
        save(folder, name(),
             fuzz::join_inputs(4 | 8 | 16 | 1, {masters[3], icon_file({sized_bitmap(32, 64, 32)})}));
        save(folder, name(), fuzz::join_inputs(4, {patched(master, 45, 0x11223344)}));
        save(folder, name(), fuzz::join_inputs(4, {interlaced_png(16, 6), masters[0]}));
        save(folder, name(), fuzz::join_inputs(0, {interlaced_png(16, 6)}));
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
    } else if (target == "image") {
        // PNG streams of every form, whole, cut and with a changed byte
        // (whose CRC the target may mend); bitmaps of every depth.
        std::vector<bytes> pngs = encoded_pngs();
        pngs.push_back(interlaced_png(16, 6));
        pngs.push_back(interlaced_png(2, 0));
        std::uint8_t n_png = 0;
        for (const bytes& png : pngs) {
            ++n_png;
            save(folder, name(), image_input(0, n_png, static_cast<std::uint8_t>(n_png * 3), png));
            save(folder, name(), image_input(2, 1, 1, cut(png, png.size() / 2)));
            save(folder, name(), image_input(3, n_png, 2, patched(png, 40, 0x11223344)));
        }
        for (const int depth : {1, 4, 8, 24, 32}) {
            const auto bits = static_cast<std::uint16_t>(depth);
            const bytes bitmap = sized_bitmap(16, 32, bits);
            save(folder, name(), image_input(1, static_cast<std::uint8_t>(bits), 7, bitmap));
            save(folder, name(), image_input(1, 3, 3, cut(bitmap, bitmap.size() - 5)));
        }
        save(folder, name(), image_input(9, 5, 5, sized_bitmap(20, 40, 32)));
    } else {
        std::fprintf(stderr, "unknown target %s\n", target.c_str());
        return 2;
    }
    return 0;
}
