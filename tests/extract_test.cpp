// The built icon-extract run on icon, cursor and PE files made here and by
// the MinGW-w64 resource compiler: the files written, byte for byte, their
// listing, the messages and the status; hostile files in one table with
// their exact messages; the command line; and what happens to files that
// exist already.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "pe_builder.hpp"
#include "png_codec.hpp"
#include "test_support.hpp"

using namespace icon_test;

namespace {

const std::string extract = ICON_EXTRACT;
const std::string examples = ICON_EXAMPLES;

struct input {
    std::string name;
    bytes data;
};

// The files of a folder, by name.
std::map<std::string, bytes> files_in(const std::string& folder) {
    std::map<std::string, bytes> files;
    for (const auto& item : std::filesystem::directory_iterator(folder))
        files[item.path().filename().string()] = read_file(item.path().string());
    return files;
}

// Runs icon-extract in a scratch folder holding `inputs`, writing into its
// subfolder out/ (-d out comes first).
struct extracted {
    run_result result;
    std::map<std::string, bytes> files;
};

extracted run_extract(const std::vector<input>& inputs, const std::vector<std::string>& options) {
    const scratch_dir dir;
    std::filesystem::create_directory(dir.file("out"));
    std::vector<std::string> args = {"-d", "out"};
    args.insert(args.end(), options.begin(), options.end());
    for (const input& in : inputs) {
        std::filesystem::create_directories(std::filesystem::path(dir.file(in.name)).parent_path());
        dir.put(in.name, in.data);
        args.push_back(in.name);
    }
    extracted e;
    e.result = run_program(extract, args, {.cwd = dir.path()});
    e.files = files_in(dir.file("out"));
    return e;
}

struct extract_case {
    const char* name;
    std::vector<input> inputs;
    std::vector<std::string> options;
    std::string out;
    std::string err;
    int status;
    std::map<std::string, bytes> written;
    bool posix_only = false;  // names Windows does not allow
};

void expect_case(const extract_case& c) {
    if (on_windows && c.posix_only) return;
    SCOPED_TRACE(c.name);
    const extracted e = run_extract(c.inputs, c.options);
    EXPECT_TRUE(same_text(e.result.out, c.out));
    EXPECT_TRUE(same_text(e.result.err, c.err));
    EXPECT_EQ(e.result.status, c.status);
    EXPECT_EQ(e.files.size(), c.written.size());
    for (const auto& [name, data] : c.written) {
        const auto found = e.files.find(name);
        if (found == e.files.end()) {
            ADD_FAILURE() << name << " was not written";
        } else {
            EXPECT_EQ(found->second, data) << name;
        }
    }
}

// `file` with entry i saying the width, height and bit count of sizes[i]
// (width and height 256 as 0), as an icon's entries should.
struct size_and_depth {
    std::uint8_t width, height;
    std::uint16_t bits;
};
bytes described(bytes file, const std::vector<size_and_depth>& sizes) {
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        file = patched(file, entry_at(i), sizes[i].width, 1);
        file = patched(file, entry_at(i) + 1, sizes[i].height, 1);
        file = patched(file, entry_at(i) + 6, sizes[i].bits, 2);
    }
    return file;
}

// A width x height icon bitmap laid out by hand: a 40-byte header
// (biHeight doubled), `table` (BGRA entries), then the colour rows and the
// mask rows, each given top row first, stored bottom row first and padded
// to 4 bytes.
bytes bitmap(std::int32_t width, std::int32_t height, std::uint16_t bits, const bytes& table,
             const std::vector<bytes>& rows, const std::vector<bytes>& mask) {
    bytes out;
    put_u32(out, 40);
    put_u32(out, static_cast<std::uint32_t>(width));
    put_u32(out, static_cast<std::uint32_t>(height * 2));
    put_u16(out, 1);
    put_u16(out, bits);
    for (int i = 0; i < 6; ++i) put_u32(out, 0);
    out.insert(out.end(), table.begin(), table.end());
    for (const std::vector<bytes>* part : {&rows, &mask}) {
        for (auto row = part->rbegin(); row != part->rend(); ++row) {
            bytes padded = *row;
            padded.resize((padded.size() + 3) / 4 * 4, 0);
            out.insert(out.end(), padded.begin(), padded.end());
        }
    }
    return out;
}

// A colour table of `count` BGRA entries: entry i is red 100 + i, green
// 10 i, blue 255 - i (each modulo 256).
bytes colour_table(unsigned count) {
    bytes table;
    for (unsigned i = 0; i < count; ++i)
        table.insert(table.end(), {std::uint8_t(255 - i), std::uint8_t(i * 10), std::uint8_t(100 + i), 0});
    return table;
}

// RGBA of entry i of colour_table, with `alpha`.
bytes colour(unsigned i, std::uint8_t alpha) {
    return {std::uint8_t(100 + i), std::uint8_t(i * 10), std::uint8_t(255 - i), alpha};
}

bytes joined_bytes(const std::vector<bytes>& parts) {
    bytes out;
    for (const bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// The PNG stream the encoder makes of `image`, in the form icon readers show.
bytes encoded(const rgba_image& image) {
    bytes png;
    EXPECT_EQ(encode_png(image, png, png_use::icon), image_status::ok);
    return png;
}

// A tiny bitmap image and the pixels it holds, top row first.
struct tiny_bitmap {
    const char* name;
    std::uint16_t bits;
    bytes image;
    std::uint8_t colours;  // the entry's bColorCount
    bytes rgba;
};

// 3 x 2 bitmaps of every depth: rows padded, the mask's top-middle and
// bottom-right pixels transparent (a transparent pixel keeps its colour).
std::vector<tiny_bitmap> tiny_bitmaps() {
    const std::vector<bytes> mask = {{0x40}, {0x20}};
    const std::vector<bytes> bgra = {{1, 2, 3, 0, 4, 5, 6, 128, 7, 8, 9, 255},
                                     {10, 11, 12, 255, 13, 14, 15, 1, 16, 17, 18, 0}};
    const std::vector<bytes> no_alpha = {{1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0},
                                         {10, 11, 12, 0, 13, 14, 15, 0, 16, 17, 18, 0}};
    return {
        {"1 bit", 1, bitmap(3, 2, 1, colour_table(2), {{0xA0}, {0x40}}, mask), 2,
         joined_bytes(
             {colour(1, 255), colour(0, 0), colour(1, 255), colour(0, 255), colour(1, 255), colour(0, 0)})},
        {"4 bits", 4, bitmap(3, 2, 4, colour_table(16), {{0x12, 0x30}, {0xF0, 0xE0}}, mask), 16,
         joined_bytes(
             {colour(1, 255), colour(2, 0), colour(3, 255), colour(15, 255), colour(0, 255), colour(14, 0)})},
        {"8 bits", 8, bitmap(3, 2, 8, colour_table(256), {{7, 200, 255}, {0, 1, 2}}, mask), 0,
         joined_bytes({colour(7, 255), colour(200, 0), colour(255, 255), colour(0, 255), colour(1, 255),
                       colour(2, 0)})},
        {"24 bits",
         24,
         bitmap(3, 2, 24, {}, {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}}, mask),
         0,
         {3, 2, 1, 255, 6, 5, 4, 0, 9, 8, 7, 255, 12, 11, 10, 255, 15, 14, 13, 255, 18, 17, 16, 0}},
        // Opaque: stored with alpha or a tRNS chunk all the same, as readers
        // that swap red and blue in other forms need.
        {"24 bits, opaque",
         24,
         bitmap(3, 2, 24, {}, {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}},
                {{0}, {0}}),
         0,
         {3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 12, 11, 10, 255, 15, 14, 13, 255, 18, 17, 16, 255}},
        // Alpha as stored; the mask is for readers without alpha.
        {"32 bits with alpha", 32, bitmap(3, 2, 32, {}, bgra, mask), 0, {3,  2,  1,  0,   6,  5,  4,  128,
                                                                         9,  8,  7,  255, 12, 11, 10, 255,
                                                                         15, 14, 13, 1,   18, 17, 16, 0}},
        // Alpha all zero, as made before alpha was read: the mask decides.
        {"32 bits, alpha all zero", 32, bitmap(3, 2, 32, {}, no_alpha, mask), 0, {3,  2,   1,  255, 6,  5,
                                                                                  4,  0,   9,  8,   7,  255,
                                                                                  12, 11,  10, 255, 15, 14,
                                                                                  13, 255, 18, 17,  16, 0}},
    };
}

// An icon file of one tiny bitmap, its entry saying 3 x 2, its colours and bits.
bytes tiny_icon(const tiny_bitmap& t) {
    bytes file = icon_file({t.image});
    file = patched(file, entry_at(0), 3, 1);
    file = patched(file, entry_at(0) + 1, 2, 1);
    file = patched(file, entry_at(0) + 2, t.colours, 1);
    return patched(file, entry_at(0) + 6, t.bits, 2);
}

std::vector<extract_case> icon_file_cases() {
    const bytes p16 = png_stream(16, 16);
    const bytes p32 = png_stream(32, 32, 8, 2);
    const bytes p256 = png_stream(256, 256, 8, 6, 300);
    bytes padded = p16;
    padded.insert(padded.end(), {1, 2, 3, 4});
    const bytes cursor = patched(icon_file({p16}, 2), entry_at(0) + 4, 0x00050003u);  // hotspot (3, 5)
    const bytes broken = patched(p32, 29, 0x12345678u);                               // IHDR's CRC
    const std::string app16 = "image 0 of app.ico, 16 x 16, 32 bits/pixel, PNG kept\n";
    // A 2 x 1 bitmap of two opaque colours (entries 1 and 2), written as the
    // PNG stream the encoder makes of them.
    const bytes old = described(icon_file({bitmap(2, 1, 8, colour_table(256), {{1, 2}}, {{0}}), p16}),
                                {{2, 1, 8}, {16, 16, 32}});
    const bytes old_png = encoded({2, 1, joined_bytes({colour(1, 255), colour(2, 255)})});
    return {
        {"PNG images",
         {{"app.ico", described(icon_file({p16, p32, p256}), {{16, 16, 32}, {32, 32, 24}, {0, 0, 32}})}},
         {},
         "out/app-0-16x16-32.png: " + app16 +
             "out/app-1-32x32-24.png: image 1 of app.ico, 32 x 32, 24 bits/pixel, PNG kept\n"
             "out/app-2-256x256-32.png: image 2 of app.ico, 256 x 256, 32 bits/pixel, PNG kept\n",
         "",
         0,
         {{"app-0-16x16-32.png", p16}, {"app-1-32x32-24.png", p32}, {"app-2-256x256-32.png", p256}}},
        {"bytes after IEND",
         {{"padded.ico", icon_file({padded})}},
         {},
         "out/padded-0-16x16-32.png: image 0 of padded.ico, 16 x 16, 32 bits/pixel, PNG kept\n",
         "",
         0,
         {{"padded-0-16x16-32.png", p16}}},
        {"a cursor's hotspot",
         {{"arrow.cur", cursor}},
         {},
         "out/arrow-0-16x16-32.png: image 0 of arrow.cur, 16 x 16, 32 bits/pixel, hotspot 3, 5, PNG kept\n",
         "",
         0,
         {{"arrow-0-16x16-32.png", p16}}},
        {"an image with an error is skipped, the others written",
         {{"app.ico", described(icon_file({broken, p16}), {{32, 32, 24}})}},
         {},
         "out/app-1-16x16-32.png: image 1 of app.ico, 16 x 16, 32 bits/pixel, PNG kept\n",
         "app.ico: image 0: error: the IHDR chunk at byte 46 is damaged: its CRC is 78563412, its bytes give "
         "FC18EDA3: Chrome, Firefox and Qt fail it [png-crc]\n",
         1,
         {{"app-1-16x16-32.png", p16}}},
        {"a bitmap image converted beside a PNG image",
         {{"old.ico", old}},
         {},
         "out/old-0-2x1-8.png: image 0 of old.ico, 2 x 1, 8 bits/pixel, bitmap converted\n"
         "out/old-1-16x16-32.png: image 1 of old.ico, 16 x 16, 32 bits/pixel, PNG kept\n",
         "",
         0,
         {{"old-0-2x1-8.png", old_png}, {"old-1-16x16-32.png", p16}}},
        {"a 16-bit bitmap, which the image layer does not decode, is an error",
         {{"deep.ico", described(icon_file({sized_bitmap(16, 32, 16), p16}), {{16, 16, 16}, {16, 16, 32}})}},
         {},
         "out/deep-1-16x16-32.png: image 1 of deep.ico, 16 x 16, 32 bits/pixel, PNG kept\n",
         "deep.ico: image 0: error: can't decode the bitmap image: unsupported image format "
         "[extract-convert]\n",
         1,
         {{"deep-1-16x16-32.png", p16}}},
        // A name cannot forge a line or drive the terminal: text shows it
        // escaped; the files written keep the input's own bytes.
        {"names that would forge lines",
         {{"a\n.ico", icon_file({p16})},
          {"b\t\x1b[2K\xff\\.ico", described(icon_file({broken}), {{32, 32, 24}})}},
         {},
         "out/a\\n-0-16x16-32.png: image 0 of a\\n.ico, 16 x 16, 32 bits/pixel, PNG kept\n",
         "b\\t\\x1b[2K\\xff\\\\.ico: image 0: error: the IHDR chunk at byte 30 is damaged: its CRC is "
         "78563412, its bytes give FC18EDA3: Chrome, Firefox and Qt fail it [png-crc]\n",
         1,
         {{"a\n-0-16x16-32.png", p16}},
         true},
        {"names never collide, whatever the letter case",
         {{"a/app.ico", icon_file({p16})}, {"b/APP.ico", icon_file({p16})}, {"a/app.ico", icon_file({p16})}},
         {},
         "out/app-0-16x16-32.png: image 0 of a/app.ico, 16 x 16, 32 bits/pixel, PNG kept\n"
         "out/APP-0-16x16-32~2.png: image 0 of b/APP.ico, 16 x 16, 32 bits/pixel, PNG kept\n"
         "out/app-0-16x16-32~3.png: image 0 of a/app.ico, 16 x 16, 32 bits/pixel, PNG kept\n",
         "",
         0,
         {{"app-0-16x16-32.png", p16}, {"APP-0-16x16-32~2.png", p16}, {"app-0-16x16-32~3.png", p16}}},
        {"JSON",
         {{"app.ico", icon_file({p16})}, {"arrow.cur", cursor}, {"old.ico", old}},
         {"--format=json"},
         "{\"output\":\"out/app-0-16x16-32.png\",\"input\":\"app.ico\",\"image\":0,\"entry\":null,"
         "\"width\":16,\"height\":16,\"bits\":32,\"hotspot\":null,\"kept\":true}\n"
         "{\"output\":\"out/arrow-0-16x16-32.png\",\"input\":\"arrow.cur\",\"image\":0,\"entry\":null,"
         "\"width\":16,\"height\":16,\"bits\":32,\"hotspot\":[3,5],\"kept\":true}\n"
         "{\"output\":\"out/old-0-2x1-8.png\",\"input\":\"old.ico\",\"image\":0,\"entry\":null,"
         "\"width\":2,\"height\":1,\"bits\":8,\"hotspot\":null,\"kept\":false}\n"
         "{\"output\":\"out/old-1-16x16-32.png\",\"input\":\"old.ico\",\"image\":1,\"entry\":null,"
         "\"width\":16,\"height\":16,\"bits\":32,\"hotspot\":null,\"kept\":true}\n",
         "",
         0,
         {{"app-0-16x16-32.png", p16},
          {"arrow-0-16x16-32.png", p16},
          {"old-0-2x1-8.png", old_png},
          {"old-1-16x16-32.png", p16}}},
    };
}

TEST(Extract, IconAndCursorFiles) {
    for (const extract_case& c : icon_file_cases()) expect_case(c);
}

// Bitmap images of every depth come out as PNG files of exactly their
// pixels, decoded back here by the library; icon-pack takes each file back
// into an icon as it is, with no warning, so the pixels survive the trip.
TEST(Extract, BitmapImagesAsExactPixels) {
    const std::string pack = ICON_PACK;
    for (const tiny_bitmap& t : tiny_bitmaps()) {
        SCOPED_TRACE(t.name);
        const std::string name = "t-0-3x2-" + std::to_string(t.bits) + ".png";
        const extracted e = run_extract({{"t.ico", tiny_icon(t)}}, {});
        EXPECT_EQ(e.result.status, 0);
        EXPECT_EQ(e.result.err, "");
        EXPECT_EQ(e.result.out, "out/" + name + ": image 0 of t.ico, 3 x 2, " + std::to_string(t.bits) +
                                    (t.bits == 1 ? " bit/pixel" : " bits/pixel") + ", bitmap converted\n");
        const auto written = e.files.find(name);
        ASSERT_NE(written, e.files.end());
        rgba_image image;
        ASSERT_EQ(decode_png(written->second.data(), written->second.size(), image), image_status::ok);
        EXPECT_EQ(image.width, 3u);
        EXPECT_EQ(image.height, 2u);
        EXPECT_EQ(image.pixels, t.rgba);
        const scratch_dir dir;
        const std::string png = dir.put(name, written->second);
        const run_result packed = run_program(pack, {"-o", dir.file("back.ico"), png});
        EXPECT_EQ(packed.status, 0);
        EXPECT_EQ(packed.err, "");
        const bytes back = read_file(dir.file("back.ico"));
        EXPECT_EQ(bytes(back.begin() + std::min<std::ptrdiff_t>(22, std::ssize(back)), back.end()),
                  written->second);
    }
}

std::vector<extract_case> pe_file_cases() {
    const bytes p16 = png_stream(16, 16);
    const bytes p32 = png_stream(32, 32, 8, 2);
    const bytes p256 = png_stream(256, 256, 8, 6, 300);
    const bytes icons = described(icon_file({p16, p32}), {{16, 16, 32}, {32, 32, 24}});
    const bytes large = described(icon_file({p256}), {{0, 0, 32}});
    const bytes cursor = patched(icon_file({p16}, 2), entry_at(0) + 4, 0x00050003u);
    const std::vector<pe_resource> resources =
        joined({group_resources(icons, u"", 1, 1), group_resources(large, u"MAIN", 0, 3),
                group_resources(cursor, u"", 2, 1)});
    const bytes lib32 = pe_file(resources).file;
    const bytes lib64 = pe_file(resources, true).file;
    // Names as file names and as text.
    const bytes odd =
        pe_file(joined({group_resources(large, u"a/b c", 0, 1), group_resources(icons, u"x\ny", 0, 2)})).file;
    return {
        {"groups of 32- and 64-bit files, bytes unchanged",
         {{"lib.dll", lib32}, {"lib.exe", lib64}},
         {},
         "out/lib-MAIN.ico: icon group MAIN of lib.dll, 1 image, kept\n"
         "out/lib-1.ico: icon group 1 of lib.dll, 2 images, kept\n"
         "out/lib-2.cur: cursor group 2 of lib.dll, 1 image, kept\n"
         "out/lib-MAIN~2.ico: icon group MAIN of lib.exe, 1 image, kept\n"
         "out/lib-1~2.ico: icon group 1 of lib.exe, 2 images, kept\n"
         "out/lib-2~2.cur: cursor group 2 of lib.exe, 1 image, kept\n",
         "",
         0,
         {{"lib-MAIN.ico", large},
          {"lib-1.ico", icons},
          {"lib-2.cur", cursor},
          {"lib-MAIN~2.ico", large},
          {"lib-1~2.ico", icons},
          {"lib-2~2.cur", cursor}}},
        {"groups as PNG files",
         {{"lib.dll", lib32}},
         {"--png"},
         "out/lib-MAIN-0-256x256-32.png: image 0 of icon group MAIN of lib.dll, 256 x 256, 32 bits/pixel, "
         "PNG kept\n"
         "out/lib-1-0-16x16-32.png: image 0 of icon group 1 of lib.dll, 16 x 16, 32 bits/pixel, PNG kept\n"
         "out/lib-1-1-32x32-24.png: image 1 of icon group 1 of lib.dll, 32 x 32, 24 bits/pixel, PNG kept\n"
         "out/lib-2-0-16x16-32.png: image 0 of cursor group 2 of lib.dll, 16 x 16, 32 bits/pixel, hotspot 3, "
         "5, "
         "PNG kept\n",
         "",
         0,
         {{"lib-MAIN-0-256x256-32.png", p256},
          {"lib-1-0-16x16-32.png", p16},
          {"lib-1-1-32x32-24.png", p32},
          {"lib-2-0-16x16-32.png", p16}}},
        {"JSON",
         {{"lib.dll",
           pe_file(joined({group_resources(large, u"MAIN", 0, 3), group_resources(cursor, u"", 2, 1)}))
               .file}},
         {"--format=json"},
         "{\"output\":\"out/"
         "lib-MAIN.ico\",\"input\":\"lib.dll\",\"image\":\"MAIN\",\"entry\":null,\"width\":null,"
         "\"height\":null,\"bits\":null,\"hotspot\":null,\"kept\":true}\n"
         "{\"output\":\"out/lib-2.cur\",\"input\":\"lib.dll\",\"image\":2,\"entry\":null,\"width\":null,"
         "\"height\":null,\"bits\":null,\"hotspot\":null,\"kept\":true}\n",
         "",
         0,
         {{"lib-MAIN.ico", large}, {"lib-2.cur", cursor}}},
        {"JSON, groups as PNG files",
         {{"lib.dll", pe_file(group_resources(cursor, u"", 2, 1)).file}},
         {"--format=json", "--png"},
         "{\"output\":\"out/"
         "lib-2-0-16x16-32.png\",\"input\":\"lib.dll\",\"image\":2,\"entry\":0,\"width\":16,"
         "\"height\":16,\"bits\":32,\"hotspot\":[3,5],\"kept\":true}\n",
         "",
         0,
         {{"lib-2-0-16x16-32.png", p16}}},
        {"names that are no file names",
         {{"odd.dll", odd}},
         {},
         "out/odd-a_b_c.ico: icon group a/b c of odd.dll, 1 image, kept\n"
         "out/odd-x_y.ico: icon group x\\ny of odd.dll, 2 images, kept\n",
         "",
         0,
         {{"odd-a_b_c.ico", large}, {"odd-x_y.ico", icons}}},
    };
}

TEST(Extract, PeFiles) {
    for (const extract_case& c : pe_file_cases()) expect_case(c);
}

// The examples, built into Windows programs and a library by the MinGW-w64
// resource compiler and linker, come back out as the files that went in.
TEST(Extract, WindowsProgramsGiveBackTheirIcons) {
    const std::map<std::string, bytes> sources = {{"MAINICON.ico", read_file(examples + "/png.ico")},
                                                  {"1.ico", read_file(examples + "/palette.ico")},
                                                  {"2.ico", read_file(examples + "/truecolor.ico")},
                                                  {"5.cur", read_file(examples + "/pointer.cur")}};
    std::size_t found = 0;
    for (const std::string stem : {"examples-x86_64", "examples-i686"}) {
        for (const std::string extension : {".exe", ".dll"}) {
            const bytes program = read_file(std::string(ICON_PE_SAMPLES) + "/" + stem + extension);
            if (program.empty()) continue;
            ++found;
            const std::string name = stem + extension;
            std::map<std::string, bytes> written;
            for (const auto& [group, data] : sources) written[stem + "-" + group] = data;
            expect_case({name.c_str(),
                         {{name, program}},
                         {},
                         "out/" + stem + "-MAINICON.ico: icon group MAINICON of " + name +
                             ", 1 image, kept\n" + "out/" + stem + "-1.ico: icon group 1 of " + name +
                             ", 3 images, kept\n" + "out/" + stem + "-2.ico: icon group 2 of " + name +
                             ", 2 images, kept\n" + "out/" + stem + "-5.cur: cursor group 5 of " + name +
                             ", 1 image, kept\n",
                         "",
                         0,
                         written});
            // Each image on its own: the PNG image as it is stored in png.ico.
            const extracted e = run_extract({{name, program}}, {"--png"});
            const bytes& icon = sources.at("MAINICON.ico");
            EXPECT_EQ(e.files.at(stem + "-MAINICON-0-32x32-32.png"), bytes(icon.begin() + 22, icon.end()));
        }
    }
    if (found == 0) GTEST_SKIP() << "no MinGW-w64 resource compiler and linker made " << ICON_PE_SAMPLES;
    EXPECT_EQ(found, 3u);
}

// icon-pack of the PNG files extracted from an icon gives that icon back.
TEST(Extract, PackedBack) {
    const scratch_dir dir;
    std::vector<std::string> pngs;
    for (const std::string size : {"16", "32", "48"}) {
        pngs.push_back(dir.put("icon-" + size + ".png", read_file(examples + "/icon-" + size + ".png")));
    }
    const std::string pack = ICON_PACK;
    std::vector<std::string> args = {"-o", dir.file("app.ico")};
    args.insert(args.end(), pngs.begin(), pngs.end());
    ASSERT_EQ(run_program(pack, args).status, 0);
    std::filesystem::create_directory(dir.file("out"));
    const run_result r = run_program(extract, {"-d", dir.file("out"), dir.file("app.ico")});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> extracted = {"app-0-48x48-32.png", "app-1-32x32-32.png",
                                                "app-2-16x16-32.png"};
    for (std::size_t i = 0; i < extracted.size(); ++i) {
        EXPECT_EQ(read_file(dir.file("out/" + extracted[i])), read_file(pngs[2 - i])) << extracted[i];
    }
    args = {"-o", dir.file("back.ico")};
    for (const std::string& name : extracted) args.push_back(dir.file("out/" + name));
    ASSERT_EQ(run_program(pack, args).status, 0);
    EXPECT_EQ(read_file(dir.file("back.ico")), read_file(dir.file("app.ico")));
}

// A 32-bit library of one icon group (id 1) of one PNG image (icon 1),
// built as the hostile rows below break it. The file is 1,024 bytes: the
// headers, then from byte 512 (RVA 0x1000) the tree.
struct hostile_pe {
    bytes png = png_stream(16, 16);
    bytes icon = icon_file({png});
    pe_built built = pe_file(group_resources(icon, u"", 1, 1));
    std::size_t icon_entry() const { return built.data_entries[0]; }
    std::size_t group_entry() const { return built.data_entries[1]; }
    std::size_t group() const { return built.data_at[1]; }
    bytes with(std::size_t at, std::uint32_t value, std::size_t width = 4) const {
        return patched(built.file, at, value, width);
    }
};

// "<input>: <text>" lines, as the program reports an input's problems.
std::string about(const std::string& input, const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += input + ": " + line + "\n";
    return out;
}
std::string about(const std::vector<std::string>& lines) { return about("bad.dll", lines); }

struct bad_input {
    const char* name;
    bytes file;
    std::string err;
    std::string input = "bad.dll";  // its name
    std::string out = {};
    std::map<std::string, bytes> written = {};
};

std::vector<bad_input> bad_inputs() {
    const hostile_pe pe;
    const std::size_t lfanew = 64;
    const std::size_t types = pe.built.tree_at + 16;  // the root's entries: icons (3), then groups (14)
    bytes dos = cut({'M', 'Z'}, 128);
    // A group of two entries that both name icon 1.
    std::vector<pe_resource> shared = group_resources(icon_file({pe.png, pe.png}), u"", 1, 1);
    shared.back().data = patched(shared.back().data, 6 + 14 + 12, 1, 2);
    // The data entry of resource `index` made to give the bytes of resource `of`.
    const auto over = [](const pe_built& b, std::size_t index, std::size_t of) {
        return patched(b.file, b.data_entries[index],
                       static_cast<std::uint32_t>(b.tree_rva + b.data_at[of] - b.tree_at));
    };
    const bytes two_over_one = over(pe_file(group_resources(icon_file({pe.png, pe.png}), u"", 1, 1)), 1, 0);
    const bytes groups_over_one = over(
        pe_file(joined({group_resources(pe.icon, u"", 1, 1), group_resources(pe.icon, u"", 2, 2)})), 3, 1);
    // A group named by 257 characters.
    const bytes long_name = pe_file(group_resources(pe.icon, std::u16string(257, u'A'), 0, 1)).file;
    // A cursor whose resource is too short for its hotspot.
    std::vector<pe_resource> short_cursor = group_resources(icon_file({pe.png}, 2), u"", 1, 1);
    short_cursor[0].data = {7, 0};
    return {
        {"shorter than the MS-DOS header", cut({'M', 'Z'}, 40),
         about({"error: the file is 40 bytes, too short for the 64-byte MS-DOS header [pe-truncated]"})},
        {"e_lfanew past the end", patched(dos, 60, 5000),
         about({"error: e_lfanew is 5000, past the end of the 128-byte file: an MS-DOS program, not a 32- or "
                "64-bit "
                "Windows file [pe-header]"})},
        {"an MS-DOS program", patched(patched(dos, 60, 64), 64, 0x1234),
         about({"error: no PE header at byte 64: an MS-DOS program, not a 32- or 64-bit Windows file "
                "[pe-header]"})},
        {"a 16-bit program", patched(patched(dos, 60, 64), 64, 'N' | 'E' << 8, 2),
         about({"error: a 16-bit Windows (NE) file: only 32- and 64-bit (PE) files are read [pe-ne-file]"})},
        {"the PE header cut", cut(pe.built.file, lfanew + 20),
         about({"error: the file ends at byte 84, inside the PE header [pe-truncated]"})},
        {"an unknown optional header", pe.with(pe.built.optional_at, 0x107, 2),
         about({"error: the optional header's Magic is 0x0107, neither PE32 (0x10B) nor PE32+ (0x20B) "
                "[pe-header]"})},
        {"more sections than the file holds", pe.with(lfanew + 6, 0xFFFF, 2),
         about({"error: the optional header and the table of 65535 sections run past the end of the "
                "2048-byte file "
                "[pe-truncated]"})},
        {"no resources", pe.with(pe.built.optional_at + 92, 2),
         about({"note: holds no icon or cursor groups [extract-no-groups]"})},
        {"the section past the end of the file", pe.with(pe.built.section_at + 20, 0x10000),
         about({"error: the resource directory of 16 bytes at RVA 0x00001000 lies past the end of the "
                "2048-byte "
                "file [pe-past-end]"})},
        {"the resources in no section", pe.with(pe.built.optional_at + 96 + 16, 0x9000),
         about({"error: the resource directory at RVA 0x00009000 lies in no section [pe-no-section]"})},
        {"a directory that loops", pe.with(types + 8 + 4, 0x80000000u),
         about({"error: the resource directory at offset 0 of the tree is reached a second time "
                "[pe-resource-loop]"})},
        {"a directory far outside", pe.with(types + 8 + 4, 0xFFFFFFFFu),
         about({"error: the resource directory at RVA 0x80000FFF lies in no section "
                "[pe-no-section]"})},
        {"groups that are data", pe.with(types + 8 + 4, 48),
         about({"error: the resources of type 14 (icon groups) are data, not a directory of names "
                "[pe-resource-tree]"})},
        {"a group that is data", pe.with(pe.built.directories[3] + 16 + 4, 48),
         about({"error: entry 0 of the resources of type 14 (icon groups) is data, not a directory of "
                "languages "
                "[pe-resource-tree]"})},
        {"a fourth level", pe.with(pe.built.directories[4] + 16 + 4, 0x80000000u | 48),
         about({"error: entry 0 of the resources of type 14 (icon groups) has a fourth level where its data "
                "should be [pe-resource-tree]"})},
        {"a group past 4 GiB", pe.with(pe.group_entry(), 0xFFFFFFF0u),
         about(
             {"icon group 1: error: the group of 20 bytes at RVA 0xFFFFFFF0 runs past 4 GiB [pe-overflow]"})},
        {"an icon's size past 4 GiB", pe.with(pe.icon_entry() + 4, 0xFFFFFFFFu),
         about(
             {"icon group 1: image 0: error: the icon of 4294967295 bytes at RVA 0x000010A0 runs past 4 GiB "
              "[pe-overflow]"})},
        {"an icon past its section", pe.with(pe.icon_entry() + 4, 0x1000),
         about({"icon group 1: image 0: error: the icon of 4096 bytes at RVA 0x000010A0 runs past the end of "
                "its "
                "section [pe-past-section]"})},
        {"a group of more entries than it holds", pe.with(pe.group() + 4, 50, 2),
         about({"icon group 1: error: the group's 50 entries need 706 bytes, but its resource holds 20 "
                "[pe-group-truncated]"})},
        {"an empty group", pe.with(pe.group() + 4, 0, 2),
         about({"icon group 1: warning: the group holds no images [pe-group-empty]"})},
        {"an icon that is not there", pe.with(pe.group() + 6 + 12, 9, 2),
         about({"icon group 1: image 0: error: the entry names icon 9, which the file does not hold "
                "[pe-group-missing]"})},
        {"an icon named twice", pe_file(shared).file,
         about({"icon group 1: image 1: error: icon 1's bytes are also another image's or group's "
                "[pe-shared]"})},
        {"two icons over the same bytes", two_over_one,
         about({"icon group 1: image 1: error: icon 2's bytes are also another image's or group's "
                "[pe-shared]"})},
        {"two groups over the same bytes",
         groups_over_one,
         about(
             {"icon group 2: error: the group's bytes at RVA 0x00001558 are also another group's or image's "
              "[pe-shared]"}),
         "bad.dll",
         "out/bad-1.ico: icon group 1 of bad.dll, 1 image, kept\n",
         {{"bad-1.ico", pe.icon}}},
        {"a name too long", long_name,
         about({"error: the resource name at RVA 0x000010A0 is 257 characters long, more than 256 "
                "[pe-name-long]"})},
        {"a cursor shorter than its hotspot", pe_file(short_cursor).file,
         about({"cursor group 1: image 0: error: cursor 1 holds 2 bytes, too few for its 4-byte hotspot "
                "[pe-cursor-short]"})},
        {"a group whose entry misstates the size",
         pe.with(pe.group() + 6 + 8, 100),
         about({"icon group 1: image 0: warning: dwBytesInRes is 100, but icon 1 holds 1108 bytes, which are "
                "taken "
                "[pe-group-size]"}),
         "bad.dll",
         "out/bad-1.ico: icon group 1 of bad.dll, 1 image, kept\n",
         {{"bad-1.ico", pe.icon}}},
        {"an icon file of no images", icon_file({}),
         about("bad.ico",
               {"error: the directory lists no image (idCount 0): Windows, Chrome, Firefox, GNOME and "
                "Qt fail it [header-count]"}),
         "bad.ico"},
        {"an icon file's directory cut", cut(pe.icon, 6 + 10),
         about(
             "bad.ico",
             {"error: the file ends inside its directory: 1 entries need 22 bytes, the file has 16: Windows, "
              "Chrome, Firefox, GNOME and Qt fail it [directory-truncated]"}),
         "bad.ico"},
        {"an image past the end",
         cut(icon_file({pe.png, pe.png}), 6 + 32 + pe.png.size() + 20),
         about(
             "bad.ico",
             {"image 1: error: the image's 1108 bytes from byte 1146 run 1088 bytes past the end of the file "
              "(dwBytesInRes): Windows fails it [image-past-end]",
              "image 1: error: the file ends at byte 1166, inside the PNG stream and before its IEND "
              "chunk: Windows, Chrome, Firefox and Qt fail it [image-truncated]"}),
         "bad.ico",
         "out/bad-0-16x16-32.png: image 0 of bad.ico, 16 x 16, 32 bits/pixel, PNG kept\n",
         {{"bad-0-16x16-32.png", pe.png}}},
        {"two entries of one image",
         patched(icon_file({pe.png, pe.png}), entry_at(1) + 12, 6 + 32),
         about("bad.ico", {"image 1: error: not written: its bytes overlap image 0's [extract-overlap]"}),
         "bad.ico",
         "out/bad-0-16x16-32.png: image 0 of bad.ico, 16 x 16, 32 bits/pixel, PNG kept\n",
         {{"bad-0-16x16-32.png", pe.png}}},
        {"text",
         {'h', 'i', '\n'},
         about("bad.txt", {"error: not an icon, cursor or PE file [extract-input]"}),
         "bad.txt"},
        {"a PNG file", pe.png,
         about("bad.png", {"error: a PNG file already; nothing to extract [extract-input]"}), "bad.png"},
    };
}

TEST(Extract, BadInputs) {
    for (const bad_input& row : bad_inputs()) {
        const int status = row.err.find(": error: ") == std::string::npos ? 0 : 1;
        expect_case({row.name, {{row.input, row.file}}, {}, row.out, row.err, status, row.written});
    }
}

TEST(Extract, CommandLines) {
    struct row {
        std::vector<std::string> args;
        int status;
        std::string err;  // its first line
        std::vector<std::string> written = {};
    };
    const std::string usage = "icon-extract: error: ";
    const std::vector<std::string> app = {"app-0-16x16-32.png"};
    const row rows[] = {
        {{}, 2, usage + "no input files given"},
        {{"-x", "app.ico"}, 2, usage + "invalid option -- 'x'"},
        {{"app.ico", "-d"}, 2, usage + "option requires an argument -- 'd'"},
        {{"-d", "out", "-dout", "app.ico"}, 2, usage + "more than one directory (-d) given"},
        {{"-d", "", "app.ico"}, 2, usage + "the directory (-d) can't be an empty name"},
        {{"--f", "app.ico"}, 2, usage + "option '--f' is ambiguous"},
        {{"--forc=yes", "app.ico"}, 2, usage + "option '--forc' doesn't allow an argument"},
        {{"--format=xml", "app.ico"}, 2, usage + "invalid format 'xml' (text or json)"},
        {{"--format"}, 2, usage + "option '--format' requires an argument"},
        {{"--x", "app.ico"}, 2, usage + "unrecognized option '--x'"},
        {{"--", "-d", "app.ico"}, 1, "-d: error: can't open: No such file or directory [extract-open]", app},
        {{"-"}, 1, "-: error: standard input can't be an input; name a file [extract-input]"},
        {{"-dnone", "app.ico"}, 1, "none: error: no such directory [extract-directory]"},
        {{"-d", "app.ico", "app.ico"}, 1, "app.ico: error: not a directory [extract-directory]"},
        {{"--dir=out", "--form", "json", "app.ico"}, 0, "", {"out/app-0-16x16-32.png"}},
        {{"-dout", "--png", "app.ico"}, 0, "", {"out/app-0-16x16-32.png"}},
        {{"app.ico"}, 0, "", app},
        {{"--help", "-x"}, 0, ""},
        {{"--vers"}, 0, ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.err);
        const scratch_dir dir;
        dir.put("app.ico", icon_file({png_stream(16, 16)}));
        std::filesystem::create_directory(dir.file("out"));
        const run_result result = run_program(extract, r.args, {.cwd = dir.path()});
        EXPECT_EQ(result.status, r.status);
        EXPECT_EQ(result.err.substr(0, result.err.find('\n')), r.err);
        std::size_t files = 0;
        for (const auto& item : std::filesystem::recursive_directory_iterator(dir.path()))
            files += item.is_regular_file() ? 1 : 0;
        EXPECT_EQ(files, 1 + r.written.size());
        for (const std::string& name : r.written) EXPECT_FALSE(read_file(dir.file(name)).empty()) << name;
    }
    EXPECT_EQ(run_program(extract, {"--version"}).out, "icon-extract (icon-tools) 1.0.0\n");
}

// Files that exist are left as they are unless --force, and even then never
// an input or the file standard output goes to; a file that cannot be
// written whole is not left behind, complete or not.
TEST(Extract, ExistingFiles) {
    const bytes png = png_stream(16, 16, 8, 6, 300);
    const bytes icon = icon_file({png});
    const scratch_dir dir;
    const std::string out = dir.put("app-0-16x16-32.png", {1, 2, 3});
    dir.put("app.ico", icon);
    dir.put("lib.dll", pe_file(group_resources(icon, u"", 1, 1)).file);
    dir.put("lib-1.ico", icon);  // where lib.dll's group would go
    const run_options here = {.cwd = dir.path()};
    run_result r = run_program(extract, {"app.ico"}, here);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "app-0-16x16-32.png: error: exists; give --force to replace it [extract-exists]\n");
    EXPECT_EQ(read_file(out), (bytes{1, 2, 3}));
    r = run_program(extract, {"--force", "app.ico"}, {.cwd = dir.path(), .out_file = out});
    EXPECT_EQ(r.err,
              "app-0-16x16-32.png: error: can't be replaced: it is also standard output [extract-output]\n");
    EXPECT_EQ(read_file(out), bytes{});
    r = run_program(extract, {"--force", "app.ico", "lib.dll", "lib-1.ico"}, here);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "app-0-16x16-32.png: image 0 of app.ico, 16 x 16, 32 bits/pixel, PNG kept\n"
              "lib-1-0-16x16-32.png: image 0 of lib-1.ico, 16 x 16, 32 bits/pixel, PNG kept\n");
    EXPECT_EQ(r.err, "lib-1.ico: error: can't be replaced: it is one of the inputs [extract-output]\n");
    EXPECT_EQ(read_file(out), png);
    EXPECT_EQ(read_file(dir.file("lib-1.ico")), icon);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& item : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 5u);
#ifndef _WIN32
    // Written under a file-size limit above app.ico's image, below big.ico's
    // and its stream's buffer, so that a write fails before the last flush.
    // The emulator and the test wrapper would take the limit as their own.
    if (programs_run_emulated() || std::getenv("ICON_TEST_WRAPPER") != nullptr) return;
    dir.put("big.ico", icon_file({png_stream(16, 16, 8, 6, 20000)}));
    std::filesystem::create_directory(dir.file("small"));
    r = run_program(extract, {"-d", "small", "app.ico", "big.ico"}, {.cwd = dir.path(), .in_child = [] {
                                                                         const rlimit limit{1000, 1000};
                                                                         setrlimit(RLIMIT_FSIZE, &limit);
                                                                         std::signal(SIGXFSZ, SIG_IGN);
                                                                     }});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "small/app-0-16x16-32.png: image 0 of app.ico, 16 x 16, 32 bits/pixel, PNG kept\n");
    EXPECT_EQ(r.err, "small/big-0-16x16-32.png: error: can't write: File too large [extract-write]\n");
    files = 0;
    for ([[maybe_unused]] const auto& item : std::filesystem::directory_iterator(dir.file("small"))) ++files;
    EXPECT_EQ(files, 1u);
#endif
}

// With --force, a file is replaced as icon-pack replaces its output: never
// one the user may not write, keeping its permission bits, owner and group,
// through its symbolic links, with no temporary file left beside it.
TEST(Extract, FilesReplacedSafely) {
    const bytes png = png_stream(16, 16, 8, 6, 300);
    const bytes old = {1, 2, 3};
    const std::string name = "app-0-16x16-32.png";
    const std::string listed = name + ": image 0 of app.ico, 16 x 16, 32 bits/pixel, PNG kept\n";
    struct row {
        const char* name;
        // Makes the file in `dir` that the run replaces as `name` and
        // answers the file that holds its bytes.
        std::function<std::string(const scratch_dir& dir)> make;
        std::string out;
        std::string err;
        int mode = -1;  // the file's permission bits afterwards; -1: not checked
        bool as_nobody = false;
        bool root_only = false;
        bool posix_only = false;
    };
    const auto existing = [&](std::filesystem::perms mode) {
        return [&, mode](const scratch_dir& dir) {
            std::string file = dir.put(name, old);
            std::filesystem::permissions(file, mode);
            return file;
        };
    };
    using perms = std::filesystem::perms;
#ifdef _WIN32
    const bool root = false;
#else
    const bool root = geteuid() == 0;
#endif
    std::vector<row> rows = {
        {"a read-only file kept", existing(perms::owner_read | perms::group_read | perms::others_read), "",
         name + ": error: can't be replaced: no permission to write to it [extract-output]\n"},
        {"its permission bits kept", existing(perms::owner_read | perms::owner_write | perms::group_read),
         listed, "", 0640, false, false, true},
#ifndef _WIN32
        {"a symbolic link: its file replaced, the link kept",
         [&](const scratch_dir& dir) {
             std::filesystem::create_directory(dir.file("sub"));
             std::string file = dir.put("sub/real.png", old);
             if (symlink("sub/real.png", dir.file(name).c_str()) != 0) ADD_FAILURE() << "symlink";
             return file;
         },
         listed, "", -1, false, false, true},
        {"an owner that cannot be kept: nothing written",
         [&](const scratch_dir& dir) {
             chmod(dir.path().c_str(), 0777);
             std::string file = dir.put(name, old);
             chmod(file.c_str(), 0666);
             return file;
         },
         "", name + ": error: can't keep the owner of the existing file [extract-owner]\n", 0666, true, true,
         true},
#endif
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        if ((r.root_only && !root) || (r.posix_only && on_windows)) continue;
        const scratch_dir dir;
        const std::string file = r.make(dir);
        dir.put("app.ico", icon_file({png}));
        run_options options{.cwd = dir.path()};
#ifndef _WIN32
        if (r.as_nobody) {
            chmod(dir.file("app.ico").c_str(), 0644);
            options.in_child = [] {
                if (setgid(65534) != 0 || setuid(65534) != 0) _exit(125);
            };
        }
#endif
        const run_result result = run_program(extract, {"--force", "app.ico"}, options);
        EXPECT_EQ(result.status, r.err.empty() ? 0 : 1);
        EXPECT_EQ(result.out, r.out);
        EXPECT_EQ(result.err, r.err);
        EXPECT_EQ(read_file(file), r.err.empty() ? png : old);
        for (const std::string& folder : {dir.path(), dir.file("sub")}) {
            if (!std::filesystem::exists(folder)) continue;
            for (const auto& item : std::filesystem::directory_iterator(folder)) {
                EXPECT_FALSE(item.path().string().ends_with(".tmp")) << item.path();
            }
        }
#ifndef _WIN32
        if (std::filesystem::exists(dir.file("sub"))) {
            EXPECT_TRUE(std::filesystem::is_symlink(dir.file(name)));
        }
        struct stat st {};
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        if (r.mode >= 0) {
            EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(r.mode));
        }
#endif
        // A read-only file cannot be removed with its folder on Windows.
        std::error_code ignored;
        std::filesystem::permissions(file, perms::owner_read | perms::owner_write, ignored);
    }
}

// Bitmap images come out as PNG files of the pixels that the peers decode
// from the icon, where they decode it: Pillow (not a cursor's mask, which
// its cursor reader leaves out) and icotool. Pixels are compared as RGBA,
// fully transparent ones as transparent whatever their colour, which no
// reader shows and the peers give differently.
TEST(Extract, BitmapPixelsInPeers) {
    if (on_windows) GTEST_SKIP() << "a Windows test cannot wait for a program of the host";
    const std::string python = "/usr/bin/python3";
    const std::string icotool = "/usr/bin/icotool";
    // Writes the RGBA of a PNG file, or of the image of an icon file whose
    // directory entry is argv[2] (Pillow numbers the images its own way).
    static const char* const pillow_script =
        "import struct, sys\nfrom PIL import Image\nname, i = sys.argv[1], int(sys.argv[2])\n"
        "im = Image.open(name)\nif i >= 0:\n"
        "    at = struct.unpack_from('<I', open(name, 'rb').read(), 6 + 16 * i + 12)[0]\n"
        "    offset = lambda e: e['offset'] if isinstance(e, dict) else e.offset\n"
        "    im = im.ico.frame([k for k, e in enumerate(im.ico.entry) if offset(e) == at][0])\n"
        "sys.stdout.buffer.write(im.convert('RGBA').tobytes())";
    const auto rgba = [&](const std::string& file, int index) {
        const run_result r =
            run_program(python, {"-c", pillow_script, file, std::to_string(index)}, {.host_tool = true});
        std::string pixels = r.status == 0 ? r.out : std::string();
        for (std::size_t at = 0; at + 3 < pixels.size(); at += 4) {
            if (pixels[at + 3] == 0) pixels.replace(at, 4, 4, '\0');
        }
        return pixels;
    };
    if (run_program(python, {"-c", "import PIL"}, {.host_tool = true}).status != 0)
        GTEST_SKIP() << "Pillow, which decodes the PNG files written, is not installed";
    struct peer {
        const char* name;
        bool cursors;
        // The RGBA pixels of image `index` of `file`, as the peer decodes
        // it, by way of files in `folder`; empty when it does not.
        std::function<std::string(const std::string& file, int index, const std::string& folder)> decode;
    };
    const peer peers[] = {
        {"Pillow", false,
         [&](const std::string& file, int index, const std::string&) { return rgba(file, index); }},
        {"icotool", true,
         [&](const std::string& file, int index, const std::string& folder) {
             const std::string png = folder + "/icotool-" + std::to_string(index) + ".png";
             const run_result r =
                 run_program(icotool, {"-x", "--index=" + std::to_string(index + 1), "-o", png, file},
                             {.host_tool = true});
             return r.status == 0 ? rgba(png, -1) : std::string();
         }},
    };
    struct row {
        std::string file;
        bytes data;
        int images;
    };
    std::vector<row> rows = {{"palette.ico", read_file(examples + "/palette.ico"), 3},
                             {"truecolor.ico", read_file(examples + "/truecolor.ico"), 2},
                             {"pointer.cur", read_file(examples + "/pointer.cur"), 1}};
    // The tiny bitmaps, but the one whose alpha is all zero: both peers
    // take that alpha as it is (every pixel transparent), where the image
    // layer lets the mask decide, its rule for images made before alpha.
    for (const tiny_bitmap& t : tiny_bitmaps()) {
        if (t.bits == 32 && t.rgba[3] == 255) continue;
        rows.push_back({"tiny-" + std::to_string(rows.size()) + ".ico", tiny_icon(t), 1});
    }
    std::size_t compared = 0;
    for (const row& r : rows) {
        const scratch_dir dir;
        const std::string file = dir.put(r.file, r.data);
        const run_result extracted = run_program(extract, {"-d", dir.path(), "--format=json", file});
        EXPECT_EQ(extracted.status, 0) << extracted.err;
        // The files written, one a listing line, in the images' order.
        std::vector<std::string> written;
        for (std::size_t at = 0; (at = extracted.out.find("\"output\":\"", at)) != std::string::npos;) {
            at += 10;
            written.push_back(extracted.out.substr(at, extracted.out.find('"', at) - at));
        }
        ASSERT_EQ(written.size(), static_cast<std::size_t>(r.images)) << extracted.out;
        for (int i = 0; i < r.images; ++i) {
            const std::string ours = rgba(written[static_cast<std::size_t>(i)], -1);
            EXPECT_FALSE(ours.empty()) << written[static_cast<std::size_t>(i)];
            for (const peer& p : peers) {
                if (r.file.ends_with(".cur") && !p.cursors) continue;
                const std::string theirs = p.decode(file, i, dir.path());
                if (theirs.empty()) continue;
                ++compared;
                EXPECT_TRUE(ours == theirs) << r.file << " image " << i << " against " << p.name;
            }
        }
    }
    EXPECT_GT(compared, 0u);
}

}  // namespace
