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
#include "image_pixels.hpp"
#include "lint_icons.hpp"
#include "test_support.hpp"

using namespace icon_test;

namespace {

const std::string lint = ICON_LINT;

// "id:severity" of every finding, file-wide ones first, then by image.
std::vector<std::string> findings_of(const bytes& data, lint_options options = {}) {
    const memory_stream stream(data);
    if (options.pixels == nullptr) options.pixels = examine_pixels;
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

// A bitmap every reader shows alike: the mask hides no pixel (a hidden
// pixel that is not black is one Windows inverts), and a 1-bit table is
// black and white.
bytes shown_bitmap(std::int32_t width, std::uint16_t bits) {
    bytes image = sized_bitmap(width, 2 * width, bits);
    const std::size_t mask =
        static_cast<std::size_t>(width) * static_cast<std::size_t>((width + 31) / 32 * 4);
    std::fill(image.end() - static_cast<long>(mask), image.end(), std::uint8_t{0});
    if (bits == 1) {
        const bytes table = {0, 0, 0, 0, 255, 255, 255, 0};
        std::copy(table.begin(), table.end(), image.begin() + 40);
    }
    return image;
}

bytes bitmap_icon(std::uint16_t bits, std::uint8_t colors) {
    return with_entry(icon_file({shown_bitmap(16, bits)}), 0, 16, 16, colors, 1, bits);
}

// A 16 x 16 bitmap with the old 12-byte header (BITMAPCOREHEADER): width,
// height (doubled) as 16 bits each, planes, bit count; then 24-bit rows and
// a mask that hides nothing.
bytes core_bitmap() {
    bytes image;
    put_u32(image, 12);
    put_u16(image, 16);
    put_u16(image, 32);
    put_u16(image, 1);
    put_u16(image, 24);
    for (int i = 0; i < 16 * 16 * 3; ++i) image.push_back(static_cast<std::uint8_t>(i * 7));
    image.resize(image.size() + std::size_t{16} * 4, 0);
    return image;
}

// `image`, a 16 x 16 bitmap, without its mask's 64 bytes.
bytes without_mask(bytes image) {
    image.resize(image.size() - std::size_t{16} * 4);
    return image;
}

// A 16 x 16 PNG stream with these chunks between IHDR and IDAT.
bytes png_with(const std::vector<bytes>& extra) {
    const bytes png = png_stream(16, 16);
    bytes out(png.begin(), png.begin() + 8 + 25);
    for (const bytes& chunk : extra) out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), png.begin() + 8 + 25, png.end());
    return out;
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
    // Image data that decodes, for 16 x 16 RGBA, grey and palette images,
    // and the RGBA data in two halves.
    const bytes data = png_image_data(16, 16);
    const bytes idat = png_chunk("IDAT", data);
    const bytes grey_idat = png_chunk("IDAT", png_image_data(16, 16, 8, 0));
    const bytes palette_idat = png_chunk("IDAT", png_image_data(16, 16, 8, 3));
    const bytes idat_1 = png_chunk("IDAT", bytes(data.begin(), data.begin() + 100));
    const bytes idat_2 = png_chunk("IDAT", bytes(data.begin() + 100, data.end()));
    const auto gama = [](std::uint32_t value) {
        return png_chunk("gAMA", {std::uint8_t(value >> 24), std::uint8_t(value >> 16),
                                  std::uint8_t(value >> 8), std::uint8_t(value)});
    };
    // A 32-bit bitmap whose alpha is 0 everywhere; a 4-bit one whose mask
    // hides every pixel, none of them black.
    bytes alpha_zero = shown_bitmap(16, 32);
    for (std::size_t i = 40 + 3; i < 40 + 16 * 16 * 4; i += 4) alpha_zero[i] = 0;
    bytes inverting = shown_bitmap(16, 4);
    std::fill(inverting.end() - std::ptrdiff_t{16} * 4, inverting.end(), std::uint8_t{0xFF});
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
    const bytes wide = png_stream(32, 16, 8, 6, 16);
    bytes in_rows = with_entry(icon_file({sized_bitmap(16, 32, 4), wide}), 0, 16, 16, 16, 1, 4);
    in_rows = patched(cut(in_rows, entry_at(2) + 296), entry_at(1) + 12, std::uint32_t(entry_at(2) + 100));
    std::copy(wide.begin(), wide.end(), in_rows.begin() + static_cast<long>(entry_at(2) + 100));
    return {
        {"clean PNG", png_file, {"png-only:note"}},
        {"clean 1-bit bitmap", bitmap_icon(1, 2), {}},
        {"clean 4-bit bitmap", four, {}},
        {"clean 8-bit bitmap", bitmap_icon(8, 0), {}},
        {"clean 24-bit bitmap", bitmap_icon(24, 0), {}},
        {"clean 32-bit bitmap", bitmap_icon(32, 0), {}},
        {"clean cursor", cursor, {}},
        {"idReserved", patched(png_file, 0, 1, 2), {"header-reserved:error", "png-only:note"}},
        {"idType", patched(png_file, 2, 3, 2), {"header-type:error", "png-only:note"}},
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
         {"image-past-end:error", "entry-bytes-in-res:note", "png-only:note"}},
        {"overlap",
         patched(big, entry_at(0) + 8, std::uint32_t(png.size() + 20)),
         {"entry-bytes-in-res:note", "image-overlap:note", "png-only:note"}},
        {"same size and depth twice", icon_file({png, png}), {"png-only:note"}},
        {"same size and depth, other pixels",
         icon_file({png, shown_bitmap(16, 32)}),
         {"duplicate-image:warning"}},
        {"required size missing", png_file, {"png-only:note", "required-size:error"}, true, {{16, 32}}},
        {"PNG cut before IEND",
         cut(png_file, png_file.size() - 12),
         {"image-past-end:error", "image-truncated:error", "png-only:note"}},
        {"PNG signature", patched(png_file, at + 4, 0x0A, 1), {"png-signature:error", "png-only:note"}},
        // Written least significant byte first, read as 0x80000000.
        {"PNG chunk length", patched(png_file, at + 8 + 25, 0x80), {"png-chunk:error", "png-only:note"}},
        {"PNG without IHDR",
         icon_file({png_of({png_chunk("IDAT", {1, 2}), png_chunk("IEND", {})})}),
         {"png-no-ihdr:error", "png-only:note"}},
        {"PNG critical CRC", patched(png_file, at + 8 + 21, 0x12345678), {"png-crc:error", "png-only:note"}},
        {"PNG ancillary CRC",
         icon_file({png_of({ihdr(16, 16), bad_text, idat, iend})}),
         {"png-crc:note", "png-only:note"}},
        {"PNG over 256",
         icon_file({png_stream(300, 16)}),
         {"png-dimensions:error", "png-size-mismatch:error", "png-only:note"}},
        // Black and white: red and blue swapped change nothing.
        {"PNG palette without tRNS",
         with_entry(icon_file({png_stream(16, 16, 8, 3)}), 0, 16, 16, 0, 1, 8),
         {"png-not-rgba:note", "png-only:note"}},
        {"PNG palette with tRNS",
         png_icon({ihdr_of(3), plte, png_chunk("tRNS", {0}), palette_idat, iend}, 8),
         {"png-only:note"}},
        {"PNG grey", png_icon({ihdr_of(0), grey_idat, iend}, 8), {"png-only:note"}},
        {"PNG 16-bit",
         with_entry(icon_file({png_stream(16, 16, 16, 6)}), 0, 16, 16, 0, 1, 64),
         {"png-not-rgba:error", "png-only:note"}},
        {"PNG RGB",
         with_entry(icon_file({png_stream(16, 16, 8, 2)}), 0, 16, 16, 0, 1, 24),
         {"png-not-rgba:warning", "png-only:note"}},
        {"PNG size differs", icon_file({png_stream(32, 16)}), {"png-size-mismatch:error", "png-only:note"}},
        {"IHDR compression method 1",
         png_icon({ihdr_of(6, 1), idat, iend}),
         {"png-ihdr-method:error", "png-only:note"}},
        {"IHDR filter method 1",
         png_icon({ihdr_of(6, 0, 1), idat, iend}),
         {"png-ihdr-method:error", "png-only:note"}},
        {"IHDR interlace method 2", png_icon({ihdr_of(6, 0, 0, 2)}), {"png-ihdr-method:error"}, false},
        // One pixel: its one pass is laid out as without interlacing.
        {"Adam7 interlacing",
         with_entry(icon_file({png_of({png_chunk("IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 6, 0, 0, 1}),
                                       png_chunk("IDAT", png_image_data(1, 1)), iend})}),
                    0, 1, 1, 0, 1, 32),
         {"png-only:note"}},
        {"no IDAT", png_icon({ihdr_of(6), iend}), {"png-no-idat:error", "png-only:note"}},
        {"unknown critical chunk",
         png_icon({ihdr_of(6), png_chunk("ABCD", {1}), idat, iend}),
         {"png-unknown-critical:error", "png-only:note"}},
        {"IDAT split by tEXt",
         png_icon({ihdr_of(6), idat_1, png_chunk("tEXt", {'a', 0, 'b'}), idat_2, iend}),
         {"png-idat-split:error", "png-only:note"}},
        {"consecutive IDAT chunks", png_icon({ihdr_of(6), idat_1, idat_2, iend}), {"png-only:note"}},
        {"palette image without PLTE",
         png_icon({ihdr_of(3), palette_idat, iend}, 8),
         {"png-not-rgba:warning", "png-palette:error", "png-only:note"}},
        {"palette image with PLTE after IDAT",
         png_icon({ihdr_of(3), palette_idat, plte, iend}, 8),
         {"png-not-rgba:warning", "png-palette:error", "png-only:note"}},
        {"PLTE in a grey image",
         png_icon({ihdr_of(0), plte, grey_idat, iend}, 8),
         {"png-palette:note", "png-only:note"}},
        {"PLTE after IDAT in an RGBA image",
         png_icon({ihdr_of(6), idat, plte, iend}),
         {"png-palette:note", "png-only:note"}},
        {"image in a bitmap's rows",
         in_rows,
         {"bitmap-mask-inverts:warning", "image-overlap:note", "png-data:error", "png-size-mismatch:error"}},
        {"image inside an examined image",
         inside,
         {"entry-bytes-in-res:error", "image-overlap:note", "readers-disagree:warning"}},
        // Its colour table read from byte 108 on, its rows end past the file's end.
        {"biSize 108",
         patched(four, at, 108),
         {"bitmap-header-size:error", "image-truncated:error", "entry-bytes-in-res:error"}},
        {"top-down bitmap", patched(four, at + 8, std::uint32_t(-32)), {"bitmap-dimensions:error"}, false},
        {"biPlanes 2", patched(four, at + 12, 2, 2), {"bitmap-planes:note"}},
        {"biBitCount 2",
         with_entry(icon_file({sized_bitmap(16, 32, 2)}), 0, 16, 16, 4, 1, 2),
         {"bitmap-bit-count:error"}},
        {"biCompression", patched(four, at + 16, 1), {"bitmap-compression:error"}},
        {"biClrUsed 17", patched(four, at + 32, 17), {"bitmap-palette:error"}},
        {"height not doubled", icon_file({sized_bitmap(16, 16, 32)}), {"bitmap-height-not-doubled:error"}},
        {"bitmap size differs", icon_file({sized_bitmap(32, 64, 32)}), {"bitmap-size-mismatch:error"}},
        // Short of the mask alone, which no reader misses.
        {"dwBytesInRes short", patched(four, entry_at(0) + 8, 296 - 4), {"entry-bytes-in-res:note"}},
        {"bColorCount", patched(four, entry_at(0) + 2, 0, 1), {"entry-color-count:note"}},
        {"bReserved", patched(four, entry_at(0) + 3, 1, 1), {"entry-reserved:note"}},
        {"wPlanes", patched(four, entry_at(0) + 4, 2, 2), {"entry-planes:note"}},
        {"wBitCount", patched(png_file, entry_at(0) + 6, 24, 2), {"entry-bit-count:note", "png-only:note"}},
        {"hotspot outside", patched(cursor, entry_at(0) + 4, 16, 2), {"cursor-hotspot:note"}},
        // What a file that is no icon is, and nothing else.
        {"a PNG file", png, {"not-an-icon:error"}},
        {"a GIF file", {'G', 'I', 'F', '8', '9', 'a', 16, 0, 16, 0, 0, 0, 0}, {"not-an-icon:error"}},
        // Read as what it is, not as a 40-byte header.
        {"BITMAPCOREHEADER",
         with_entry(icon_file({core_bitmap()}), 0, 16, 16, 0, 1, 24),
         {"bitmap-header-size:error"}},
        {"32-bit bitmap without its mask",
         icon_file({without_mask(shown_bitmap(16, 32))}),
         {"bitmap-no-mask:note"}},
        {"4-bit bitmap without its mask",
         with_entry(icon_file({without_mask(shown_bitmap(16, 4))}), 0, 16, 16, 16, 1, 4),
         {"bitmap-no-mask:error"}},
        {"alpha 0 everywhere", icon_file({alpha_zero}), {"bitmap-alpha-zero:warning"}},
        {"hidden pixels not black",
         with_entry(icon_file({inverting}), 0, 16, 16, 16, 1, 4),
         {"bitmap-mask-inverts:warning"}},
        {"hidden pixels not black in a cursor",
         with_entry(icon_file({inverting}, 2), 0, 16, 16, 16, 3, 4),
         {}},
        {"1-bit colours not black and white",
         with_entry(icon_file({sized_bitmap(16, 32, 1)}), 0, 16, 16, 2, 1, 1),
         {"bitmap-mask-inverts:warning", "bitmap-two-colours:warning"}},
        {"PNG data that does not inflate",
         icon_file({png_stream(16, 16, 8, 6, 16)}),
         {"png-data:error", "png-only:note"}},
        {"PNG gamma 1.0", icon_file({png_with({gama(100000)})}), {"png-gamma:error", "png-only:note"}},
        {"PNG gamma 1/2.2", icon_file({png_with({gama(45455)})}), {"png-only:note"}},
        {"PNG gamma 1/2.2 with cHRM",
         icon_file({png_with({gama(45455), png_chunk("cHRM", bytes(32, 1))})}),
         {"png-gamma:error", "png-only:note"}},
        {"PNG gamma with sRGB",
         icon_file({png_with({png_chunk("sRGB", {0}), gama(100000)})}),
         {"png-only:note"}},
        {"IHDR colour type 5",
         png_icon({ihdr_of(5), idat, iend}),
         {"png-ihdr-format:error", "png-only:note"}},
        // 32 and 8 bits at 16 x 16: GNOME takes the later, the others the deeper.
        {"two depths of one size",
         with_entry(icon_file({shown_bitmap(16, 32), shown_bitmap(16, 8)}), 1, 16, 16, 0, 1, 8),
         {"readers-disagree:warning"}},
        // The entries' depths swapped: Chrome and Firefox follow them, Windows
        // from a file the images' own.
        {"wBitCount that changes a choice",
         with_entry(with_entry(icon_file({shown_bitmap(16, 4), shown_bitmap(16, 32)}), 0, 16, 16, 16, 1, 32),
                    1, 16, 16, 0, 1, 4),
         {"entry-bit-count:warning", "entry-bit-count:warning"},
         false},
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
        for (const std::string& id : findings_of(file)) overlaps += id == "image-overlap:note" ? 1 : 0;
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
    const bytes clean = icon_file({shown_bitmap(16, 32)});
    // Its mask hides pixels that are not black: a warning alone.
    const bytes warned = with_entry(icon_file({sized_bitmap(16, 32, 4)}), 0, 16, 16, 16, 1, 4);
    const bytes broken = icon_file({png_stream(32, 16)});
    const std::string inverts =
        "image 0: warning: the mask hides 128 pixels whose colour is not black: Windows inverts the screen "
        "under them where the browsers show nothing [bitmap-mask-inverts]\n";
    const std::string mismatch =
        "image 0: error: the directory says 16 x 16, the PNG image is 32 x 16: Chrome and Firefox fail it "
        "[png-size-mismatch]\n";
    const std::string png_only =
        "note: every image is a PNG image, which GNOME does not read in an icon file: GNOME shows nothing "
        "[png-only]\n";
    const std::string png_only_json =
        "\"image\":null,\"offset\":null,\"severity\":\"note\",\"check\":\"png-only\",\"message\":\"every "
        "image "
        "is a PNG image, which GNOME does not read in an icon file: GNOME shows "
        "nothing\",\"readers\":[\"gnome\"],"
        "\"width\":null,\"height\":null,\"depth\":null,\"kind\":null}\n";
    const std::string mismatch_json =
        "\"image\":0,\"offset\":6,\"severity\":\"error\",\"check\":\"png-size-mismatch\",\"message\":\"the "
        "directory says 16 x 16, the PNG image is 32 x 16: Chrome and Firefox fail "
        "it\",\"readers\":[\"chrome\","
        "\"firefox\"],\"width\":32,\"height\":16,\"depth\":32,\"kind\":\"png\"}\n";
    const std::string forged =
        "x\\n.ico: image 0: error: the PNG image is 1 x 1 [png-crc]\\x1b[2K\\t\\xff.ico: ";
    const std::string forged_json =
        "{\"path\":\"x\\u000a.ico: image 0: error: the PNG image is 1 x 1 "
        "[png-crc]\\u001b[2K\\u0009\\ufffd.ico\",";
    const std::vector<run_case> cases = {
        {"clean file", {"FILE"}, clean, "", "", 0},
        {"warning only", {"FILE"}, warned, "PATH: " + inverts, "", 0},
        {"error", {"FILE"}, broken, "PATH: " + mismatch + "PATH: " + png_only, "", 1},
        // A file that is no icon: one finding, whose readers follow its kind.
        {"a PNG file",
         {"--format=json", "FILE"},
         png_stream(32, 16),
         "{\"path\":\"PATH\",\"image\":null,\"offset\":0,\"severity\":\"error\",\"check\":\"not-an-icon\","
         "\"message\":\"a PNG image, 32 x 16, not an icon file: browsers show it as a favicon; Windows, "
         "GNOME "
         "and Qt do not\",\"readers\":[\"windows\",\"gnome\",\"qt\"],\"width\":null,\"height\":null,"
         "\"depth\":null,\"kind\":null}\n",
         "",
         1},
        {"a GIF file",
         {"FILE"},
         {'G', 'I', 'F', '8', '9', 'a', 16, 0, 8, 0, 0, 0, 0},
         "PATH: error: a GIF image, 16 x 8, not an icon file: browsers show it as a favicon, and Qt shows "
         "it; "
         "Windows and GNOME do not [not-an-icon]\n",
         "",
         1},
        {"json",
         {"--format=json", "FILE"},
         patched(broken, 0, 1, 2),
         "{\"path\":\"PATH\",\"image\":null,\"offset\":0,\"severity\":\"error\",\"check\":\"header-"
         "reserved\","
         "\"message\":\"the header's reserved field is 1, not 0 (idReserved): Chrome, GNOME and Qt fail it\","
         "\"readers\":[\"chrome\",\"gnome\",\"qt\"],\"width\":null,\"height\":null,\"depth\":null,\"kind\":"
         "null}\n"
         "{\"path\":\"PATH\"," +
             mismatch_json + "{\"path\":\"PATH\"," + png_only_json,
         "",
         1},
        {"github",
         {"--format=github", "FILE"},
         broken,
         "::error file=PATH,title=png-size-mismatch::image 0: the directory says 16 x 16, the PNG image is "
         "32 x "
         "16: Chrome and Firefox fail it\n"
         "::notice file=PATH,title=png-only::every image is a PNG image, which GNOME does not read in an "
         "icon "
         "file: GNOME shows nothing\n",
         "",
         1},
        {"required sizes",
         {"--require-sizes", "16,48", "FILE"},
         clean,
         "PATH: error: no 48 x 48 image, which is required [required-size]\n",
         "",
         1},
        {"ignored checks", {"--ignore=png-only,png-size-mismatch", "FILE"}, broken, "", "", 0},
        {"least severity shown", {"--min-severity=error", "FILE"}, broken, "PATH: " + mismatch, "", 1},
        {"failing on warnings", {"--fail-on", "warning", "FILE"}, warned, "PATH: " + inverts, "", 1},
        // What is not shown does not fail the run.
        {"failing on what is not shown",
         {"--fail-on=note", "--min-severity=error", "FILE"},
         warned,
         "",
         "",
         0},
        {"missing file beside an error",
         {"FILE", "no-such.ico"},
         broken,
         "PATH: " + mismatch + "PATH: " + png_only,
         "no-such.ico: error: cannot open: No such file or directory\n2 files: 1 error, 0 warnings, 1 note\n",
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
         "icon-lint: invalid format 'xml' (text, json, sarif or github)\n"
         "Try 'icon-lint --help' for more information.\n",
         2},
        {"unknown check ignored",
         {"--ignore=png-only,png-sizes", "FILE"},
         clean,
         "",
         "icon-lint: unknown check 'png-sizes' in --ignore\nTry 'icon-lint --help' for more information.\n",
         2},
        {"bad severity",
         {"--fail-on=fatal", "FILE"},
         clean,
         "",
         "icon-lint: invalid severity 'fatal' (error, warning or note)\n"
         "Try 'icon-lint --help' for more information.\n",
         2},
        {"readers in SARIF",
         {"--readers", "--format=sarif", "FILE"},
         clean,
         "",
         "icon-lint: --readers takes --format=text or --format=json\n"
         "Try 'icon-lint --help' for more information.\n",
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
         forged + mismatch + forged + png_only,
         "missing\\n.ico: error: cannot open: No such file or directory\n2 files: 1 error, 0 warnings, 1 "
         "note\n",
         2,
         "x\n.ico: image 0: error: the PNG image is 1 x 1 [png-crc]\x1b[2K\t\xff.ico"},
        {"the same name in JSON",
         {"--format=json", "FILE"},
         broken,
         forged_json + mismatch_json + forged_json + png_only_json,
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
        EXPECT_EQ(
            r.out,
            "far.ico: image 0: error: the directory says 16 x 16, the PNG image is 32 x 16: Chrome and "
            "Firefox fail it [png-size-mismatch]\n"
            "far.ico: note: every image is a PNG image, which GNOME does not read in an icon file: GNOME "
            "shows nothing [png-only]\n");
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
    // entry-bytes-in-res, -color-count, -reserved, -planes and -bit-count
    // (the images are one picture: no duplicate-image), and png-only.
    EXPECT_EQ(lines, 65535u * 8 - 1 + 1);
}
#endif

// What each reader shows of two 16 x 16 images, 32 and 8 bits: GNOME the
// later, the others the deeper; and the same as JSON.
TEST(Lint, ReadersTable) {
    const bytes file = with_entry(icon_file({shown_bitmap(16, 32), shown_bitmap(16, 8)}), 1, 16, 16, 0, 1, 8);
    const scratch_dir dir;
    dir.put("two.ico", file);
    const run_result text = run_program(lint, {"--readers", "two.ico"}, {.cwd = dir.path()});
    EXPECT_EQ(text.out,
              "two.ico\n"
              "             16   24   32   48   64  256  fails\n"
              "  Windows     0    0    0    0    0    0  -\n"
              "  Chrome      0    0    0    0    0    0  -\n"
              "  Firefox     0    0    0    0    0    0  -\n"
              "  GNOME       1    1    1    1    1    1  -\n"
              "  Qt          0    0    0    0    0    0  -\n");
    EXPECT_EQ(text.status, 0);
    const run_result json = run_program(lint, {"--readers", "--format=json", "two.ico"}, {.cwd = dir.path()});
    EXPECT_EQ(json.out,
              "{\"path\":\"two.ico\",\"sizes\":[16,24,32,48,64,256],\"readers\":{"
              "\"windows\":{\"shows\":[0,0,0,0,0,0],\"shows_from_file\":[0,0,0,0,0,0],\"fails\":[]},"
              "\"chrome\":{\"shows\":[0,0,0,0,0,0],\"fails\":[]},"
              "\"firefox\":{\"shows\":[0,0,0,0,0,0],\"fails\":[]},"
              "\"gnome\":{\"shows\":[1,1,1,1,1,1],\"fails\":[]},"
              "\"qt\":{\"shows\":[0,0,0,0,0,0],\"fails\":[]}}}\n");
}

// One SARIF log for the run: each result names its rule by the id and the
// index of that rule in the log's list, and its byte offset as the region.
TEST(Lint, SarifLog) {
    const scratch_dir dir;
    dir.put("a.ico", icon_file({png_stream(32, 16)}));
    dir.put("b.ico", patched(icon_file({shown_bitmap(16, 32)}), 0, 1, 2));
    const run_result r = run_program(lint, {"--format=sarif", "a.ico", "b.ico"}, {.cwd = dir.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("{\"version\":\"2.1.0\",\"$schema\":", 0), 0u) << r.out;
    EXPECT_TRUE(r.out.ends_with("\"invocations\":[{\"executionSuccessful\":true}]}]}\n")) << r.out;
    const std::vector<check_info>& checks = lint_checks();
    struct result {
        const char* id;
        const char* level;
        const char* where;
    };
    for (const result& want :
         {result{"png-size-mismatch", "error", "\"uri\":\"a.ico\"},\"region\":{\"byteOffset\":6}"},
          result{"png-only", "note", "\"uri\":\"a.ico\"}"},
          result{"header-reserved", "error", "\"uri\":\"b.ico\"},\"region\":{\"byteOffset\":0}"}}) {
        const auto rule = std::find_if(checks.begin(), checks.end(),
                                       [&](const check_info& c) { return std::string(c.id) == want.id; });
        ASSERT_NE(rule, checks.end()) << want.id;
        const std::string head = "{\"ruleId\":\"" + std::string(want.id) +
                                 "\",\"ruleIndex\":" + std::to_string(rule - checks.begin()) +
                                 ",\"level\":\"" + want.level + "\"";
        const std::size_t at = r.out.find(head);
        ASSERT_NE(at, std::string::npos) << head << "\n" << r.out;
        EXPECT_NE(r.out.find(want.where, at), std::string::npos) << want.id;
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
