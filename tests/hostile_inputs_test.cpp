// Hostile input files, generated here, run through the built programs: each
// case with its exact listing, messages and exit status. The expected values
// were worked out by hand from the ICO layout and the size rule.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "test_support.hpp"

using namespace icon_test;

namespace {

const std::string inspector = ICON_INSPECTOR;
const std::string bundler = ICON_BUNDLER;
const std::string lint = ICON_LINT;
const std::string pack = ICON_PACK;

// One 16 x 16 image of 4 bits per pixel: the directory entry at 6 (its
// dwBytesInRes at 14, its dwImageOffset at 18), the 296-byte image at 22
// (biSize at 22, biWidth 26, biHeight 30, biBitCount 36); 318 bytes.
bytes one_bitmap() { return icon_file({sized_bitmap(16, 32, 4)}); }
constexpr std::size_t bytes_in_res = 14;
constexpr std::size_t image_offset = 18;
constexpr std::size_t bi_size = 22;
constexpr std::size_t bi_width = 26;
constexpr std::size_t bi_height = 30;
constexpr std::size_t bi_bit_count = 36;

const std::string entry0 = "ICONDIRENTRY[ 0] @     22";
const std::string line_16_16_4 =
    entry0 + " : biWidth =  16  biHeight =  16*2  biPlanes = 1  biBitCount =  4  biClrUsed =   0\n";
const std::string no_header = "## ERROR: can't read BITMAPINFOHEADER\n";
const std::string no_entry = "## ERROR: can't read ICONDIRENTRY\n";
const std::string no_dir = "## ERROR: can't read ICONDIR\n";

std::string should_be(const std::string& expected, const std::string& found) {
    return "## ERROR: dwBytesInRes should be " + expected + " (not " + found + ")\n";
}

const std::string skip_file_entry = "## ERROR: can't read ICONDIRENTRY; skipping file\n";
const std::string skip_file_header = "## ERROR: can't read BITMAPINFOHEADER; skipping file\n";
const std::string skip_icon = "## ERROR: invalid BITMAPINFOHEADER; skipping icon\n";
const std::string out_of_range = "## ERROR: image size out of range; skipping icon\n";
const std::string short_read = "## ERROR: can't read icon\n";
const std::string listed_16_16_4 = "#   0:   16 x  16,  4 bits/pixel\n";
const std::string listed_png = "#   0: PNG (Vista) icon\n";

// A case for both programs: what the inspector prints after the name line,
// and what the bundler lists after its first echo of the path, reports, and
// copies (the one image, or none). The inspector exits with 0; the bundler
// too, unless it could not read a whole image it copies.
struct hostile_case {
    const char* name;
    bytes data;
    std::string out;
    std::string err;
    std::string listing;
    std::string bundler_err;
    bool bundled = false;
};

std::vector<hostile_case> hostile_cases() {
    const bytes one = one_bitmap();
    std::vector<hostile_case> cases;
    for (std::size_t n = 0; n <= 5; ++n) {
        cases.push_back({"short file", cut(one, n), "", no_dir, "", no_dir});
    }
    cases.push_back({"6 bytes naming one entry", cut(one, 6), "", no_entry, "", skip_file_entry});

    // The bundler leaves the file at its first missing entry.
    std::string many_missing = no_header;
    for (int i = 1; i < 65535; ++i) many_missing += no_entry;
    cases.push_back({"idCount 65535, one entry", patched(cut(one, 22), 4, 65535, 2), entry0 + "\n",
                     many_missing, "", skip_file_header});
    cases.push_back({"entry cut after 9 bytes", cut(one, 15), "", no_entry, "", skip_file_entry});
    cases.push_back({"entry cut after 15 bytes", cut(one, 21), "", no_entry, "", skip_file_entry});

    // A bitmap's dwBytesInRes must be its expected size; a PNG image's is
    // taken as it is, unless it is negative or too large for an offset.
    // The PNG image is 40 bytes at 22, the end of the file.
    struct size_case {
        std::uint32_t value;
        const char* text;
        std::string png_err;
        bool png_bundled;
    };
    for (const size_case& c : std::vector<size_case>{{0, "0", "", true},
                                                     {39, "39", "", true},
                                                     {1000, "1000", short_read, true},
                                                     {0x7FFFFFFF, "2147483647", out_of_range, false},
                                                     {0xFFFFFFFF, "-1", out_of_range, false},
                                                     {0x80000000, "-2147483648", out_of_range, false}}) {
        cases.push_back({"dwBytesInRes", patched(one, bytes_in_res, c.value), line_16_16_4,
                         should_be("296", c.text), "", skip_icon});
        cases.push_back({"PNG dwBytesInRes", patched(icon_file({png_image(40)}), bytes_in_res, c.value),
                         entry0 + " : PNG (Vista) format icon\n", "", c.png_bundled ? listed_png : "",
                         c.png_err, c.png_bundled});
    }

    // Offsets. At 6 the header is read over the directory entry and the
    // image's first bytes; at 0 over the ICONDIR as well. The bundler cannot
    // seek to a negative offset, so it blames the entry.
    cases.push_back(
        {"offset inside the directory", patched(one, image_offset, 6),
         "ICONDIRENTRY[ 0] @      6 : biWidth =2097153  biHeight = 148*2  biPlanes = 6  biBitCount =  0  "
         "biClrUsed =   0\n",
         should_be("38797948", "296"), "", skip_icon});
    cases.push_back({"offset 0", patched(one, image_offset, 0),
                     "ICONDIRENTRY[ 0] @      0 : biWidth =269484033  biHeight =32768*2  biPlanes =32  "
                     "biBitCount =296  biClrUsed =65536\n",
                     should_be("1441832", "296"), "", skip_icon});
    cases.push_back({"offset at the end", patched(one, image_offset, 318), "ICONDIRENTRY[ 0] @    318\n",
                     no_header, "", skip_file_header});
    cases.push_back({"header cut by the end", patched(one, image_offset, 300), "ICONDIRENTRY[ 0] @    300\n",
                     no_header, "", skip_file_header});
    cases.push_back({"offset past the end", patched(one, image_offset, 100000), "ICONDIRENTRY[ 0] @ 100000\n",
                     no_header, "", skip_file_header});
    cases.push_back({"offset with bit 31", patched(one, image_offset, 0x80000000),
                     "ICONDIRENTRY[ 0] @-2147483648\n", no_header, "", skip_file_entry});

    // Header fields; of these the bundler takes only the images whose one oddity
    // is biSize, which no check looks at.
    const auto field_line = [](const char* width, const char* half, const char* bits) {
        return entry0 + " : biWidth =" + width + "  biHeight =" + half +
               "*2  biPlanes = 1  biBitCount =" + bits + "  biClrUsed =   0\n";
    };
    struct header_case {
        const char* name;
        std::size_t at;
        std::uint32_t value;
        const char *width, *half, *bits, *expected;
    };
    for (const header_case& h : std::vector<header_case>{
             {"biHeight 0", bi_height, 0, "  16", "   0", "  4", "104"},
             {"biHeight odd", bi_height, 31, "  16", "  15", "  4", "284"},
             {"biHeight odd, rounded toward zero", bi_height, 33, "  16", "  16", "  4", nullptr},
             {"biHeight negative", bi_height, static_cast<std::uint32_t>(-32), "  16", " -16", "  4", "-88"},
             {"biHeight INT32_MIN", bi_height, 0x80000000, "  16", "-1073741824", "  4", "104"},
             {"biWidth 0", bi_width, 0, "   0", "  16", "  4", "104"},
             {"biWidth negative", bi_width, static_cast<std::uint32_t>(-16), " -16", "  16", "  4", "40"},
             {"biWidth INT32_MAX", bi_width, 0x7FFFFFFF, "2147483647", "  16", "  4", "168"},
             {"biBitCount 0", bi_bit_count, 0, "  16", "  16", "  0", "108"},
             {"biBitCount 3", bi_bit_count, 3, "  16", "  16", "  3", "264"},
             {"biBitCount 64", bi_bit_count, 64, "  16", "  16", " 64", "2152"},
             {"biBitCount 65535", bi_bit_count, 65535, "  16", "  16", "65535", "2097256"},
             {"biSize 12", bi_size, 12, "  16", "  16", "  4", nullptr},
             {"biSize 108", bi_size, 108, "  16", "  16", "  4", nullptr},
             {"biSize 0xFFFFFFFF", bi_size, 0xFFFFFFFF, "  16", "  16", "  4", nullptr},
         }) {
        const bytes data = patched(one, h.at, h.value, h.at == bi_bit_count ? 2 : 4);
        const bool taken = h.at == bi_size;
        cases.push_back({h.name, data, field_line(h.width, h.half, h.bits),
                         h.expected == nullptr ? "" : should_be(h.expected, "296"),
                         taken ? listed_16_16_4 : "", taken ? "" : skip_icon, taken});
    }

    // Sizes that wrap round to a small positive number and match: 68-byte
    // rows times -2^30 rows are 0 modulo 2^32, and 2^30 pixels of 4 bits
    // are a 0-byte colour row (with a mask row of 2^27 bytes, 32 times).
    // The bundler takes the first (a negative height passes its limit) and
    // refuses the second for its width.
    cases.push_back(
        {"rows times row size wraps to 0", icon_file({bitmap_image(16, INT32_MIN, 32, 40)}),
         entry0 +
             " : biWidth =  16  biHeight =-1073741824*2  biPlanes = 1  biBitCount = 32  biClrUsed =   0\n",
         "", "#   0:   16 x-1073741824, 32 bits/pixel\n", "", true});
    cases.push_back(
        {"colour row wraps to 0", icon_file({bitmap_image(1 << 30, 64, 4, 104)}),
         entry0 +
             " : biWidth =1073741824  biHeight =  32*2  biPlanes = 1  biBitCount =  4  biClrUsed =   0\n",
         "", "", skip_icon});
    return cases;
}

TEST(HostileInputs, Inspector) {
    for (const hostile_case& c : hostile_cases()) {
        SCOPED_TRACE(c.name);
        expect_inspection(inspector, c.data, c.out, c.err);
    }
}

TEST(HostileInputs, Bundler) {
    const scratch_dir dir;
    for (const hostile_case& c : hostile_cases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.put("case.ico", c.data);
        const std::string output = dir.file("out.ico");
        const run_result r = run_program(bundler, {"-o", output, path});
        const std::string summary = c.bundled ? "Bundled 1 icons from 1 input files.\n\n"
                                              : "No icons found, wrote empty icon suite\n";
        EXPECT_EQ(r.out, path + "\n" + c.listing + path + "\n" + summary);
        EXPECT_EQ(r.err, c.bundler_err);
        EXPECT_EQ(r.status, c.bundler_err.ends_with(short_read) ? 1 : 0);
        EXPECT_EQ(read_file(output),
                  bundle_of(c.bundled ? std::vector<placed>{image_of(c.data, 0)} : std::vector<placed>{}));
    }
}

// The three-image example (bitmaps at 54 and 350, a PNG at 4614) cut at
// every length, all in one run: an entry is listed when its 16 bytes are
// there, and its fields when the 40 bytes at its offset are.
TEST(HostileInputs, InspectorOverEveryCut) {
    const bytes whole = icon_file({sized_bitmap(16, 32, 4), sized_bitmap(32, 64, 32), png_image(100)});
    ASSERT_EQ(whole.size(), 4714u);
    const std::size_t offsets[] = {54, 350, 4614};
    const std::string lines[] = {
        "ICONDIRENTRY[ 0] @     54 : biWidth =  16  biHeight =  16*2  biPlanes = 1  biBitCount =  4  "
        "biClrUsed =   0\n",
        "ICONDIRENTRY[ 1] @    350 : biWidth =  32  biHeight =  32*2  biPlanes = 1  biBitCount = 32  "
        "biClrUsed =   0\n",
        "ICONDIRENTRY[ 2] @   4614 : PNG (Vista) format icon\n"};
    const scratch_dir dir;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    for (std::size_t length = 0; length < whole.size(); ++length) {
        // Named from their folder, the 4714 paths fit a Windows command line.
        const std::string name = std::to_string(length);
        dir.put(name, cut(whole, length));
        args.push_back(name);
        out += name + "\n";
        if (length < 6) {
            err += no_dir;
            continue;
        }
        for (std::size_t i = 0; i < 3; ++i) {
            if (length < 6 + 16 * (i + 1)) {
                err += no_entry;
            } else if (length < offsets[i] + 40) {
                out += lines[i].substr(0, 25) + "\n";
                err += no_header;
            } else {
                out += lines[i];
            }
        }
    }
    const run_result r = run_program(inspector, args, {.cwd = dir.path()});
    EXPECT_TRUE(same_text(r.out, out));
    EXPECT_TRUE(same_text(r.err, err));
    EXPECT_EQ(r.status, 0);
}

// Three images (a 1-bit bitmap of 176 bytes at 54, a 60-byte PNG at 230, a
// 24-bit bitmap of 104 bytes at 290) cut at every length, each cut one input
// of a single bundling. An image is taken when its entry and its 40-byte
// header are there, and copied whole, with zeros for what its input lacks;
// those short copies make the run fail.
TEST(HostileInputs, BundlerOverEveryCut) {
    const bytes whole = icon_file({sized_bitmap(16, 32, 1), png_image(60), sized_bitmap(4, 8, 24)});
    ASSERT_EQ(whole.size(), 394u);
    const std::size_t offsets[] = {54, 230, 290};
    const std::size_t sizes[] = {176, 60, 104};
    const std::string lines[] = {"#   0:   16 x  16,  1 bit/pixel\n", "#   1: PNG (Vista) icon\n",
                                 "#   2:    4 x   4, 24 bits/pixel\n"};
    const scratch_dir dir;
    std::vector<std::string> args = {"-o", dir.file("out.ico")};
    std::string scan;
    std::string copy;
    std::string scan_err;
    std::string copy_err;
    std::vector<placed> images;
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        const bytes part = cut(whole, length);
        const std::string path = dir.put(std::to_string(length) + ".ico", part);
        args.push_back(path);
        scan += path + "\n";
        copy += path + "\n";
        if (length < 6) {
            scan_err += no_dir;
            continue;
        }
        for (std::size_t i = 0; i < 3; ++i) {
            if (length < 6 + 16 * (i + 1)) {
                scan_err += skip_file_entry;
                break;
            }
            if (length < offsets[i] + 40) {
                scan_err += skip_file_header;
                break;
            }
            scan += lines[i];
            if (length < offsets[i] + sizes[i]) copy_err += short_read;
            images.push_back(image_of(part, i));
        }
    }
    const run_result r = run_program(bundler, args);
    EXPECT_TRUE(same_text(r.out, scan + copy + "Bundled " + std::to_string(images.size()) +
                                     " icons from 395 input files.\n\n"));
    EXPECT_TRUE(same_text(r.err, scan_err + copy_err));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir.file("out.ico")), bundle_of(images));
}

// icon-lint and icon-pack over files whose images lie over each other: each
// byte is examined once. Images at one offset share one examination; an
// image that starts inside bytes already examined is reported, not read
// again, so the work is bounded by the file's size, not by its entries
// times its size.
TEST(HostileInputs, LintAndPackExamineEachByteOnce) {
    // Four entries 16 bytes apart, each a PNG signature and the header of an
    // IDAT chunk whose data runs over the images after it to the file's end.
    bytes overlapping = {0, 0, 1, 0, 4, 0};
    const std::size_t first = entry_at(4);
    const std::size_t size = first + std::size_t{4} * 16 + 40;
    for (std::size_t i = 0; i < 4; ++i) {
        overlapping.insert(overlapping.end(), {16, 16, 0, 0, 1, 0, 32, 0});
        put_u32(overlapping, std::uint32_t(size - (first + 16 * i)));
        put_u32(overlapping, std::uint32_t(first + 16 * i));
    }
    for (std::size_t i = 0; i < 4; ++i) {
        overlapping.insert(overlapping.end(), {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
        const auto length = std::uint32_t(size - (first + 16 * i + 16) - 4);
        overlapping.insert(overlapping.end(),
                           {std::uint8_t(length >> 24), std::uint8_t(length >> 16), std::uint8_t(length >> 8),
                            std::uint8_t(length), 'I', 'D', 'A', 'T'});
    }
    overlapping.resize(size, 0);
    // Four entries on one PNG image.
    const bytes png = png_stream(16, 16);
    bytes shared = icon_file({png, png, png, png});
    for (std::size_t i = 1; i < 4; ++i)
        shared = patched(shared, entry_at(i) + 12, std::uint32_t(entry_at(4)));
    shared.resize(entry_at(4) + png.size());

    struct row {
        const char* name;
        bytes data;
        std::string lint_out;  // "FILE" stands for the file's name
        std::string pack_err;
        bool packed;
    };
    const std::string all_fail = ": Windows, Chrome, Firefox and Qt fail it";
    const std::string no_ihdr =
        "FILE: image 0: error: the PNG stream has no IHDR chunk" + all_fail + " [png-no-ihdr]\n";
    const std::string cut_short =
        "FILE: image 0: error: the file ends at byte 174, inside the PNG stream and before its IEND chunk" +
        all_fail + " [image-truncated]\n";
    const std::string bad_crc =
        "FILE: image 0: error: the IDAT chunk at byte 78 is damaged: its CRC is 00000000, its bytes give "
        "1B146A9B: Chrome and Qt fail it; Firefox shows another picture [png-crc]\n";
    const std::string inside =
        " were examined already; it is not examined again: no reader is affected [image-overlap]\n";
    const std::string shares =
        ": note: the image's bytes 70 to 1177 overlap image 0's, which run to 1177: no reader "
        "is affected [image-overlap]\n";
    // The images of one PNG stream are one picture: no duplicate.
    const row rows[] = {
        {"overlapping PNG streams", overlapping,
         bad_crc + cut_short + no_ihdr +
             "FILE: image 1: note: the image starts at byte 86, inside image 0's bytes, which run to 173 "
             "and" +
             inside +
             "FILE: image 2: note: the image starts at byte 102, inside image 0's bytes, which run to 173 "
             "and" +
             inside +
             "FILE: image 3: note: the image starts at byte 118, inside image 0's bytes, which run to 173 "
             "and" +
             inside,
         cut_short + no_ihdr + bad_crc +
             "FILE: image 1: error: its bytes start inside image 0's, which were examined already "
             "[pack-overlap]\n"
             "FILE: image 2: error: its bytes start inside image 0's, which were examined already "
             "[pack-overlap]\n"
             "FILE: image 3: error: its bytes start inside image 0's, which were examined already "
             "[pack-overlap]\n"
             "out.ico: error: not written, since the inputs have errors [pack-not-written]\n",
         false},
        {"entries on one image", shared,
         "FILE: image 1" + shares + "FILE: image 2" + shares + "FILE: image 3" + shares +
             "FILE: note: every image is a PNG image, which GNOME does not read in an icon file: GNOME shows "
             "nothing [png-only]\n",
         "FILE: image 1: note: skipped: 16 x 16, 32 bits/pixel already given by FILE, image 0 "
         "[pack-duplicate]\n"
         "FILE: image 2: note: skipped: 16 x 16, 32 bits/pixel already given by FILE, image 0 "
         "[pack-duplicate]\n"
         "FILE: image 3: note: skipped: 16 x 16, 32 bits/pixel already given by FILE, image 0 "
         "[pack-duplicate]\n",
         true},
    };
    const auto named = [](std::string text) {
        for (std::size_t at = text.find("FILE"); at != std::string::npos; at = text.find("FILE", at)) {
            text.replace(at, 4, "in.ico");
        }
        return text;
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const scratch_dir dir;
        dir.put("in.ico", r.data);
        const run_result linted = run_program(lint, {"in.ico"}, {.cwd = dir.path()});
        EXPECT_TRUE(same_text(linted.out, named(r.lint_out)));
        EXPECT_EQ(linted.status, r.packed ? 0 : 1);
        const run_result packed = run_program(pack, {"-o", "out.ico", "in.ico"}, {.cwd = dir.path()});
        EXPECT_TRUE(same_text(packed.err, named(r.pack_err)));
        EXPECT_EQ(packed.status, r.packed ? 0 : 1);
        EXPECT_EQ(read_file(dir.file("out.ico")).size(), r.packed ? entry_at(1) + png.size() : 0u);
    }
}

// A name in Greek and Chinese, outside any ANSI code page: Windows programs
// take it in UTF-8, as POSIX ones do.
const std::string far_name = "\xCE\xB5\xCE\xB9\xCE\xBA\xCF\x8C\xCE\xBD\xCE\xB1-\xE5\x9B\xBE\xE6\xA0\x87.ico";

// An input given twice is inspected twice; the null device opens but holds
// no ICONDIR, and so does a folder on POSIX (Windows does not open it); a
// missing path leaves no trace; the far name opens.
TEST(HostileInputs, InspectorOverOddPaths) {
    const scratch_dir dir;
    const std::string path = dir.put("one.ico", one_bitmap());
    const std::string far = dir.put(far_name, one_bitmap());
    const run_result r =
        run_program(inspector, {path, path, dir.path(), null_device, dir.file("missing"), far});
    const std::string listing = path + "\n" + line_16_16_4;
    const std::string folder = folders_open_as_files ? dir.path() + "\n" : "";
    EXPECT_EQ(r.out, listing + listing + folder + null_device + "\n" + far + "\n" + line_16_16_4);
    EXPECT_EQ(r.err, (folders_open_as_files ? no_dir : "") + no_dir);
    EXPECT_EQ(r.status, 0);
}

// The bundler takes an input given twice twice, and the far name, and
// reports the others in its own words; a path that cannot be opened is
// reported in both passes.
TEST(HostileInputs, BundlerOverOddPaths) {
    const scratch_dir dir;
    const bytes one = one_bitmap();
    const std::string path = dir.put("one.ico", one);
    const std::string far = dir.put(far_name, one);
    const std::string missing = dir.file("missing");
    const std::vector<std::string> inputs = {path, path, dir.path(), null_device, missing, far};
    std::vector<std::string> args = {"-o", dir.file("out.ico")};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const run_result r = run_program(bundler, args);
    std::string echoes;
    for (const std::string& input : inputs) echoes += input + "\n";
    const std::string listed = path + "\n" + listed_16_16_4;
    EXPECT_EQ(r.out, listed + listed + dir.path() + "\n" + null_device + "\n" + missing + "\n" + far + "\n" +
                         listed_16_16_4 + echoes + "Bundled 3 icons from 6 input files.\n\n");
    const std::string open_failed =
        "open failed: No such file or directory\n## ERROR: can't open input file\n";
    const std::string folder_refused = "open failed: Permission denied\n## ERROR: can't open input file\n";
    EXPECT_EQ(r.err, folders_open_as_files
                         ? no_dir + no_dir + open_failed + open_failed
                         : folder_refused + no_dir + open_failed + folder_refused + open_failed);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir.file("out.ico")),
              bundle_of({image_of(one, 0), image_of(one, 0), image_of(one, 0)}));
}

}  // namespace
