// icon-lint's checks, one row per check on a file built byte by byte, then
// the built program: its exit statuses, its text and JSON lines and its
// command line.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "escape.hpp"
#include "file_checks.hpp"
#include "lint_icons.hpp"
#include "test_support.hpp"

using namespace icon_test;

namespace {

const std::string lint = ICON_LINT;

// "id:severity" of every finding, file-wide ones first, then by image.
std::vector<std::string> findings_of(const bytes& data, const lint_options& options = {}) {
    const memory_stream stream(data);
    file_report report;
    EXPECT_TRUE(lint_stream(stream.get(), options, report));
    std::vector<std::string> ids;
    for (const finding& f : report.findings) ids.push_back(std::string(f.id) + ":" + severity_name(f.level));
    return ids;
}

// Entry i of `file` with these width, height, colour count, planes (or
// hotspot x) and bit count (or hotspot y).
bytes with_entry(bytes file, std::size_t i, std::uint8_t width, std::uint8_t height, std::uint8_t colors,
                 std::uint16_t planes, std::uint16_t bits) {
    file = patched(file, entry_at(i), width, 1);
    file = patched(file, entry_at(i) + 1, height, 1);
    file = patched(file, entry_at(i) + 2, colors, 1);
    file = patched(file, entry_at(i) + 4, planes, 2);
    return patched(file, entry_at(i) + 6, bits, 2);
}

bytes bitmap_icon(std::uint16_t bits, std::uint8_t colors) {
    return with_entry(icon_file({sized_bitmap(16, 32, bits)}), 0, 16, 16, colors, 1, bits);
}

bytes png_of(const std::vector<bytes>& chunks) {
    bytes out = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    for (const bytes& chunk : chunks) out.insert(out.end(), chunk.begin(), chunk.end());
    return out;
}

bytes ihdr(std::uint32_t width, std::uint32_t height) {
    // The IHDR chunk of png_stream, which follows the 8-byte signature.
    const bytes png = png_stream(width, height);
    return bytes(png.begin() + 8, png.begin() + 8 + 25);
}

// A 16 x 16 IHDR chunk of this colour type and these methods.
bytes ihdr_of(std::uint8_t color_type, std::uint8_t compression = 0, std::uint8_t filter = 0,
              std::uint8_t interlace = 0) {
    return png_chunk("IHDR", {0, 0, 0, 16, 0, 0, 0, 16, 8, color_type, compression, filter, interlace});
}

struct row {
    const char* name;
    bytes file;
    std::vector<std::string> want;
    bool exact = true;  // false: `want` must appear among what a damaged image also gives
    lint_options options = {};
};

std::vector<row> rows() {
    const bytes png = png_stream(16, 16);
    const bytes png_file = icon_file({png});
    const std::size_t at = entry_at(1);  // the image of a one-image file
    const bytes cursor = with_entry(icon_file({sized_bitmap(16, 32, 32)}, 2), 0, 16, 16, 0, 3, 4);
    const bytes bad_text = patched(png_chunk("tEXt", {'a', 0, 'b'}), 8 + 3, 0);
    const bytes big = with_entry(icon_file({png, png_stream(32, 32)}), 1, 32, 32, 0, 1, 32);
    const bytes four = bitmap_icon(4, 16);
    const bytes idat = png_chunk("IDAT", {1, 2, 3});
    const bytes iend = png_chunk("IEND", {});
    const bytes plte = png_chunk("PLTE", {0, 0, 0, 255, 255, 255});
    const auto png_icon = [](const std::vector<bytes>& chunks, std::uint16_t bits = 32) {
        return with_entry(icon_file({png_of(chunks)}), 0, 16, 16, 0, 1, bits);
    };
    // Image 1 starts 8 bytes into image 0's PNG stream, which its own entry
    // understates: the image's bytes were read already, and are not read again.
    bytes inside = icon_file({png, png});
    inside = patched(inside, entry_at(0) + 8, 8);
    inside = patched(inside, entry_at(1) + 12, std::uint32_t(entry_at(2) + 8));
    inside = patched(inside, entry_at(1) + 8, 8);
    // Image 1, a PNG stream, lies in the rows of image 0, a bitmap, which are
    // not read: it is examined all the same.
    const bytes wide = png_stream(32, 16);
    bytes in_rows = with_entry(icon_file({sized_bitmap(16, 32, 4), wide}), 0, 16, 16, 16, 1, 4);
    in_rows = patched(cut(in_rows, entry_at(2) + 296), entry_at(1) + 12, std::uint32_t(entry_at(2) + 100));
    std::copy(wide.begin(), wide.end(), in_rows.begin() + static_cast<long>(entry_at(2) + 100));
    return {
        {"clean PNG", png_file, {}},
        {"clean 1-bit bitmap", bitmap_icon(1, 2), {}},
        {"clean 4-bit bitmap", four, {}},
        {"clean 8-bit bitmap", bitmap_icon(8, 0), {}},
        {"clean 24-bit bitmap", bitmap_icon(24, 0), {}},
        {"clean 32-bit bitmap", bitmap_icon(32, 0), {}},
        {"clean cursor", cursor, {}},
        {"idReserved", patched(png_file, 0, 1, 2), {"header-reserved:warning"}},
        {"idType", patched(png_file, 2, 3, 2), {"header-type:error"}},
        {"idCount 0", icon_file({}), {"header-count:error"}},
        {"header cut", {0, 0, 1}, {"directory-truncated:error"}},
        {"directory cut", cut(png_file, 6 + 10), {"directory-truncated:error"}},
        {"image inside the directory",
         patched(png_file, entry_at(0) + 12, 0),
         {"image-in-directory:error"},
         false},
        {"image starts past the end", patched(png_file, entry_at(0) + 12, 100000), {"image-past-end:error"}},
        {"image runs past the end",
         patched(png_file, entry_at(0) + 8, std::uint32_t(png.size() + 100)),
         {"image-past-end:error", "entry-bytes-in-res:warning"}},
        {"overlap",
         patched(big, entry_at(0) + 8, std::uint32_t(png.size() + 20)),
         {"entry-bytes-in-res:warning", "image-overlap:warning"}},
        {"same size and depth twice", icon_file({png, png}), {"duplicate-image:warning"}},
        {"required size missing", png_file, {"required-size:error"}, true, {{16, 32}}},
        {"PNG cut before IEND",
         cut(png_file, png_file.size() - 12),
         {"image-past-end:error", "image-truncated:error"}},
        {"PNG signature", patched(png_file, at + 4, 0x0A, 1), {"png-signature:error"}},
        // Written least significant byte first, read as 0x80000000.
        {"PNG chunk length", patched(png_file, at + 8 + 25, 0x80), {"png-chunk:error"}},
        {"PNG without IHDR",
         icon_file({png_of({png_chunk("IDAT", {1, 2}), png_chunk("IEND", {})})}),
         {"png-no-ihdr:error"}},
        {"PNG critical CRC", patched(png_file, at + 8 + 21, 0x12345678), {"png-crc:error"}},
        {"PNG ancillary CRC",
         icon_file({png_of({ihdr(16, 16), bad_text, png_chunk("IDAT", {1, 2}), png_chunk("IEND", {})})}),
         {"png-crc:warning"}},
        {"PNG over 256",
         icon_file({png_stream(300, 16)}),
         {"png-dimensions:error", "png-size-mismatch:error"}},
        {"PNG palette without tRNS",
         with_entry(icon_file({png_stream(16, 16, 8, 3)}), 0, 16, 16, 0, 1, 8),
         {"png-not-rgba:warning"}},
        {"PNG palette with tRNS", png_icon({ihdr_of(3), plte, png_chunk("tRNS", {0}), idat, iend}, 8), {}},
        {"PNG grey", png_icon({ihdr_of(0), idat, iend}, 8), {}},
        {"PNG 16-bit",
         with_entry(icon_file({png_stream(16, 16, 16, 6)}), 0, 16, 16, 0, 1, 64),
         {"png-not-rgba:error"}},
        {"PNG RGB",
         with_entry(icon_file({png_stream(16, 16, 8, 2)}), 0, 16, 16, 0, 1, 24),
         {"png-not-rgba:warning"}},
        {"PNG size differs", icon_file({png_stream(32, 16)}), {"png-size-mismatch:error"}},
        {"IHDR compression method 1", png_icon({ihdr_of(6, 1), idat, iend}), {"png-ihdr-method:error"}},
        {"IHDR filter method 1", png_icon({ihdr_of(6, 0, 1), idat, iend}), {"png-ihdr-method:error"}},
        {"IHDR interlace method 2", png_icon({ihdr_of(6, 0, 0, 2)}), {"png-ihdr-method:error"}, false},
        {"Adam7 interlacing", png_icon({ihdr_of(6, 0, 0, 1), idat, iend}), {}},
        {"no IDAT", png_icon({ihdr_of(6), iend}), {"png-no-idat:error"}},
        {"unknown critical chunk",
         png_icon({ihdr_of(6), png_chunk("ABCD", {1}), idat, iend}),
         {"png-unknown-critical:error"}},
        {"IDAT split by tEXt",
         png_icon({ihdr_of(6), idat, png_chunk("tEXt", {'a', 0, 'b'}), idat, iend}),
         {"png-idat-split:error"}},
        {"consecutive IDAT chunks", png_icon({ihdr_of(6), idat, idat, iend}), {}},
        {"palette image without PLTE",
         png_icon({ihdr_of(3), idat, iend}, 8),
         {"png-not-rgba:warning", "png-palette:error"}},
        {"palette image with PLTE after IDAT",
         png_icon({ihdr_of(3), idat, plte, iend}, 8),
         {"png-not-rgba:warning", "png-palette:error"}},
        {"PLTE in a grey image", png_icon({ihdr_of(0), plte, idat, iend}, 8), {"png-palette:warning"}},
        {"PLTE after IDAT in an RGBA image",
         png_icon({ihdr_of(6), idat, plte, iend}),
         {"png-palette:warning"}},
        {"image in a bitmap's rows", in_rows, {"image-overlap:warning", "png-size-mismatch:error"}},
        {"image inside an examined image",
         inside,
         {"entry-bytes-in-res:error", "image-overlap:warning", "duplicate-image:warning"}},
        {"biSize 108", patched(four, at, 108), {"bitmap-header-size:error"}},
        {"top-down bitmap", patched(four, at + 8, std::uint32_t(-32)), {"bitmap-dimensions:warning"}, false},
        {"biPlanes 2", patched(four, at + 12, 2, 2), {"bitmap-planes:warning"}},
        {"biBitCount 2",
         with_entry(icon_file({sized_bitmap(16, 32, 2)}), 0, 16, 16, 4, 1, 2),
         {"bitmap-bit-count:error"}},
        {"biCompression", patched(four, at + 16, 1), {"bitmap-compression:error"}},
        {"biClrUsed 17", patched(four, at + 32, 17), {"bitmap-palette:warning"}},
        {"height not doubled", icon_file({sized_bitmap(16, 16, 32)}), {"bitmap-height-not-doubled:error"}},
        {"bitmap size differs", icon_file({sized_bitmap(32, 64, 32)}), {"bitmap-size-mismatch:error"}},
        {"dwBytesInRes short", patched(four, entry_at(0) + 8, 296 - 4), {"entry-bytes-in-res:error"}},
        {"bColorCount", patched(four, entry_at(0) + 2, 0, 1), {"entry-color-count:warning"}},
        {"bReserved", patched(four, entry_at(0) + 3, 1, 1), {"entry-reserved:note"}},
        {"wPlanes", patched(four, entry_at(0) + 4, 2, 2), {"entry-planes:warning"}},
        {"wBitCount", patched(png_file, entry_at(0) + 6, 24, 2), {"entry-bit-count:warning"}},
        {"hotspot outside", patched(cursor, entry_at(0) + 4, 16, 2), {"cursor-hotspot:warning"}},
    };
}

TEST(Lint, EachCheckHasItsRow) {
    for (const row& r : rows()) {
        const std::vector<std::string> got = findings_of(r.file, r.options);
        if (r.exact) {
            EXPECT_EQ(got, r.want) << r.name;
        } else {
            for (const std::string& id : r.want) {
                EXPECT_TRUE(std::find(got.begin(), got.end(), id) != got.end()) << r.name << ": " << id;
            }
        }
    }
}

// 65,535 entries on one image, and as many overlapping ones each starting
// a byte later: one finding per image, not one per pair.
TEST(Lint, ManyOverlappingImages) {
    const bytes one = icon_file({png_stream(16, 16)});
    const bytes image(one.begin() + 22, one.end());
    const std::size_t start = entry_at(65535);
    for (const bool staggered : {false, true}) {
        bytes file = cut(one, 6);
        file[4] = 0xFF, file[5] = 0xFF;
        for (std::size_t i = 0; i < 65535; ++i) {
            const auto offset = std::uint32_t(start + (staggered ? i : 0));
            file.insert(file.end(), one.begin() + 6, one.begin() + 14);
            put_u32(file, staggered ? 65535 : std::uint32_t(image.size()));
            put_u32(file, offset);
        }
        file.insert(file.end(), image.begin(), image.end());
        file.resize(start + std::size_t{2} * 65535, 0);
        std::size_t overlaps = 0;
        for (const std::string& id : findings_of(file)) overlaps += id == "image-overlap:warning" ? 1 : 0;
        EXPECT_EQ(overlaps, 65534u) << (staggered ? "staggered" : "shared");
    }
}

TEST(Lint, JsonStringsAreEscaped) {
    EXPECT_EQ(json_string("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
    EXPECT_EQ(json_string("caf\xc3\xa9 \xff"), "\"caf\xc3\xa9 \\ufffd\"");
}

// Names in text lines: nothing a name holds can end the line or reach the
// terminal; printable ASCII and UTF-8 stay as they are.
TEST(Lint, NamesAreEscaped) {
    const struct {
        std::string name;
        std::string shown;
    } rows[] = {
        {"plain.ico", "plain.ico"},
        {"caf\xc3\xa9 \xe5\x9b\xbe.ico", "caf\xc3\xa9 \xe5\x9b\xbe.ico"},
        {"a\nforged.ico: image 0: error: x [png-crc]", "a\\nforged.ico: image 0: error: x [png-crc]"},
        {"tab\there\rcr", "tab\\there\\rcr"},
        {"\x1b[31mred\x7f\x01", "\\x1b[31mred\\x7f\\x01"},
        {"back\\slash", "back\\\\slash"},
        // Not UTF-8: a stray byte, an overlong '/', a surrogate, a cut sequence.
        {"\xff\xc0\xaf\xed\xa0\x80\xe5\x9b", "\\xff\\xc0\\xaf\\xed\\xa0\\x80\\xe5\\x9b"},
    };
    for (const auto& r : rows) EXPECT_EQ(escaped_name(r.name), r.shown) << r.shown;
}

struct run_case {
    const char* name;
    std::vector<std::string> args;  // "FILE" stands for the row's file
    bytes file;
    std::string out;  // with "PATH" for the file's path
    std::string err;
    int status;
    std::string file_name = "input.ico";  // one that is not a Windows name is tried on POSIX only
};

std::string with_path(std::string text, const std::string& path) {
    for (std::size_t at = text.find("PATH"); at != std::string::npos;
         at = text.find("PATH", at + path.size())) {
        text.replace(at, 4, path);
    }
    return text;
}

TEST(Lint, ProgramOutputAndStatus) {
    const bytes clean = icon_file({png_stream(16, 16)});
    const bytes warned = patched(clean, 0, 1, 2);
    const bytes broken = icon_file({png_stream(32, 16)});
    const std::vector<run_case> cases = {
        {"clean file", {"FILE"}, clean, "", "", 0},
        {"warning only",
         {"FILE"},
         warned,
         "PATH: warning: idReserved is 1, not 0 [header-reserved]\n",
         "",
         0},
        {"error",
         {"FILE"},
         broken,
         "PATH: image 0: error: the directory says 16 x 16, the PNG image is 32 x 16 [png-size-mismatch]\n",
         "",
         1},
        {"json",
         {"--format=json", "FILE"},
         patched(broken, 0, 1, 2),
         "{\"path\":\"PATH\",\"image\":null,\"offset\":0,\"severity\":\"warning\",\"check\":\"header-"
         "reserved\","
         "\"message\":\"idReserved is 1, not "
         "0\",\"width\":null,\"height\":null,\"depth\":null,\"kind\":null}\n"
         "{\"path\":\"PATH\",\"image\":0,\"offset\":6,\"severity\":\"error\",\"check\":\"png-size-mismatch\","
         "\"message\":\"the directory says 16 x 16, the PNG image is 32 x 16\",\"width\":32,\"height\":16,"
         "\"depth\":32,\"kind\":\"png\"}\n",
         "",
         1},
        {"required sizes",
         {"--require-sizes", "16,48", "FILE"},
         clean,
         "PATH: error: no 48 x 48 image, which is required [required-size]\n",
         "",
         1},
        {"missing file beside an error",
         {"FILE", "no-such.ico"},
         broken,
         "PATH: image 0: error: the directory says 16 x 16, the PNG image is 32 x 16 [png-size-mismatch]\n",
         "no-such.ico: error: cannot open: No such file or directory\n",
         2},
        {"no files",
         {},
         {},
         "",
         "icon-lint: no input files\nTry 'icon-lint --help' for more information.\n",
         2},
        {"unknown option",
         {"--fast", "FILE"},
         clean,
         "",
         "icon-lint: unrecognized option '--fast'\nTry 'icon-lint --help' for more information.\n",
         2},
        {"bad format",
         {"--format=xml", "FILE"},
         clean,
         "",
         "icon-lint: invalid format 'xml' (text or json)\nTry 'icon-lint --help' for more information.\n",
         2},
        {"bad size",
         {"--require-sizes=16,,32", "FILE"},
         clean,
         "",
         "icon-lint: invalid size list '16,,32' (sizes from 1 to 256, separated by commas)\n"
         "Try 'icon-lint --help' for more information.\n",
         2},
        {"version", {"--version"}, {}, "icon-lint (icon-tools) 1.0.0\n", "", 0},
        // A name cannot forge a finding or drive the terminal in text; JSON
        // shows it exactly, as it always did.
        {"a name that forges a line",
         {"FILE", "missing\n.ico"},
         broken,
         "x\\n.ico: image 0: error: the PNG image is 1 x 1 [png-crc]\\x1b[2K\\t\\xff.ico: image 0: error: "
         "the "
         "directory says 16 x 16, the PNG image is 32 x 16 [png-size-mismatch]\n",
         "missing\\n.ico: error: cannot open: No such file or directory\n",
         2,
         "x\n.ico: image 0: error: the PNG image is 1 x 1 [png-crc]\x1b[2K\t\xff.ico"},
        {"the same name in JSON",
         {"--format=json", "FILE"},
         broken,
         "{\"path\":\"x\\u000a.ico: image 0: error: the PNG image is 1 x 1 "
         "[png-crc]\\u001b[2K\\u0009\\ufffd.ico\","
         "\"image\":0,\"offset\":6,\"severity\":\"error\",\"check\":\"png-size-mismatch\",\"message\":\"the "
         "directory says 16 x 16, the PNG image is 32 x "
         "16\",\"width\":32,\"height\":16,\"depth\":32,\"kind\":"
         "\"png\"}\n",
         "",
         1,
         "x\n.ico: image 0: error: the PNG image is 1 x 1 [png-crc]\x1b[2K\t\xff.ico"},
    };
    const scratch_dir dir;
    for (const run_case& c : cases) {
        if (on_windows && c.file_name != "input.ico") continue;
        const std::string path = dir.put(c.file_name, c.file);
        std::vector<std::string> args;
        for (const std::string& arg : c.args) args.push_back(arg == "FILE" ? c.file_name : arg);
        const run_result r = run_program(lint, args, {.cwd = dir.path()});
        EXPECT_EQ(r.out, with_path(c.out, "input.ico")) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.status, c.status) << c.name;
    }
}

// An image may start anywhere an unsigned 32-bit dwImageOffset reaches:
// past 2 GiB and up to 4 GiB, here in sparse files. The PNG image there is
// 32 x 16 under a 16 x 16 entry, which only its examination finds.
TEST(Lint, ImagesUpTo4GiB) {
    const bytes png = png_stream(32, 16);
    for (const std::uint32_t offset : {0x80000010u, 0xC0000000u, 0xFFFFFF00u}) {
        SCOPED_TRACE(offset);
        const scratch_dir dir;
        const std::string path = dir.put("far.ico", patched(icon_file({png}), entry_at(0) + 12, offset));
        std::error_code error;
        std::filesystem::resize_file(path, offset, error);
        if (error) GTEST_SKIP() << "no sparse file of 4 GiB here: " << error.message();
        std::ofstream(path, std::ios::binary | std::ios::app)
            .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
        const run_result r = run_program(lint, {"far.ico"}, {.cwd = dir.path()});
        EXPECT_EQ(r.out,
                  "far.ico: image 0: error: the directory says 16 x 16, the PNG image is 32 x 16 "
                  "[png-size-mismatch]\n");
        EXPECT_EQ(r.status, 1);
    }
}

#ifndef _WIN32
// Findings are written as they are made, so memory does not grow with them:
// 65,535 entries on one image, each wrong in every field (about 590,000
// findings, 60 MB of text), in 64 MiB of address space. Not under a
// sanitizer, a wrapper or an emulator, which need more for themselves.
TEST(Lint, FindingsAreWrittenAsTheyAreMade) {
    if (ICON_SANITIZED || std::getenv("ICON_TEST_WRAPPER") != nullptr || programs_run_emulated())
        GTEST_SKIP() << "the address space is the sanitizer's, wrapper's or emulator's";
    const bytes png = png_stream(16, 16);
    bytes file = {0, 0, 1, 0, 0xFF, 0xFF};
    const std::size_t image_at = entry_at(65535);
    for (std::size_t i = 0; i < 65535; ++i) {
        file.insert(file.end(), {32, 32, 3, 1, 5, 0, 7, 0});
        put_u32(file, 1 << 20);
        put_u32(file, std::uint32_t(image_at));
    }
    file.insert(file.end(), png.begin(), png.end());
    const scratch_dir dir;
    const std::string path = dir.put("many.ico", file);
    const run_result r =
        run_program(lint, {"many.ico"}, {.cwd = dir.path(), .out_file = dir.file("out.txt"), .in_child = [] {
                                             constexpr rlim_t bytes = rlim_t{64} << 20;
                                             const rlimit limit{bytes, bytes};
                                             setrlimit(RLIMIT_AS, &limit);
                                         }});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    std::ifstream out(dir.file("out.txt"), std::ios::binary);
    std::vector<char> block(1 << 20);
    std::size_t lines = 0;
    while (out.read(block.data(), static_cast<std::streamsize>(block.size())) || out.gcount() > 0)
        lines += static_cast<std::size_t>(std::count(block.begin(), block.begin() + out.gcount(), '\n'));
    // Image-past-end, overlap (but for the first), png-size-mismatch,
    // entry-bytes-in-res, -color-count, -reserved, -planes, -bit-count and
    // duplicate-image (but for the first).
    EXPECT_EQ(lines, 65535u * 9 - 2);
}
#endif

TEST(Lint, HelpGoesToStandardOutput) {
    const run_result r = run_program(lint, {"--help"});
    EXPECT_EQ(r.out.rfind("Usage: icon-lint ", 0), 0u);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

#ifndef _WIN32
// Findings that could not be written are a failure, even of warnings alone.
TEST(Lint, LostReportIsNeverSuccess) {
    const scratch_dir dir;
    const std::string path = dir.put("warned.ico", patched(icon_file({png_stream(16, 16)}), 0, 1, 2));
    const run_result r = run_program(lint, {path}, {.in_child = [] {
                                         const int full = open("/dev/full", O_WRONLY);
                                         dup2(full, 1);
                                         close(full);
                                     }});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "## ERROR: can't write standard output\n");
}
#endif

}  // namespace
