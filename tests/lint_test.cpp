// icon-lint's checks, one row per check on a file built byte by byte, then
// the built program: its exit statuses, its text and JSON lines and its
// command line.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

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
         icon_file({png_of({ihdr(16, 16), bad_text, png_chunk("IEND", {})})}),
         {"png-crc:warning"}},
        {"PNG over 256",
         icon_file({png_stream(300, 16)}),
         {"png-dimensions:error", "png-size-mismatch:error"}},
        {"PNG palette",
         with_entry(icon_file({png_stream(16, 16, 8, 3)}), 0, 16, 16, 0, 1, 8),
         {"png-not-rgba:error"}},
        {"PNG RGB",
         with_entry(icon_file({png_stream(16, 16, 8, 2)}), 0, 16, 16, 0, 1, 24),
         {"png-not-rgba:warning"}},
        {"PNG size differs", icon_file({png_stream(32, 16)}), {"png-size-mismatch:error"}},
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

struct run_case {
    const char* name;
    std::vector<std::string> args;  // "FILE" stands for the row's file
    bytes file;
    std::string out;  // with "PATH" for the file's path
    std::string err;
    int status;
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
    };
    const scratch_dir dir;
    for (const run_case& c : cases) {
        const std::string path = dir.put("input.ico", c.file);
        std::vector<std::string> args;
        for (const std::string& arg : c.args) args.push_back(arg == "FILE" ? "input.ico" : arg);
        const run_result r = run_program(lint, args, {.cwd = dir.path()});
        EXPECT_EQ(r.out, with_path(c.out, "input.ico")) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.status, c.status) << c.name;
    }
}

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
