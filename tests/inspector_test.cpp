// The built icon-inspector run on generated files, its two output streams
// and exit status checked byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.hpp"

using namespace icon_test;

namespace {

const std::string inspector = ICON_INSPECTOR;

// The example directory: a 16 x 16 4-bit bitmap at 54, a 32 x 32 32-bit
// bitmap at 350 and a PNG image at 4614.
bytes example_icon() {
    return icon_file({sized_bitmap(16, 32, 4), sized_bitmap(32, 64, 32), png_image(100)});
}

const char* const example_listing =
    "ICONDIRENTRY[ 0] @     54 : biWidth =  16  biHeight =  16*2  biPlanes = 1  biBitCount =  4  biClrUsed = "
    "  0\n"
    "ICONDIRENTRY[ 1] @    350 : biWidth =  32  biHeight =  32*2  biPlanes = 1  biBitCount = 32  biClrUsed = "
    "  0\n"
    "ICONDIRENTRY[ 2] @   4614 : PNG (Vista) format icon\n";

TEST(Inspector, NoArgumentsPrintNothing) {
    const run_result r = run_program(inspector, {});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

struct file_case {
    const char* name;
    bytes data;
    std::string out;  // after the name line
    std::string err;
};

std::vector<file_case> file_cases() {
    const bytes one = icon_file({sized_bitmap(16, 32, 4)});
    const std::string one_line =
        "ICONDIRENTRY[ 0] @     22 : biWidth =  16  biHeight =  16*2  biPlanes = 1  biBitCount =  4  "
        "biClrUsed =   0\n";
    return {
        {"example", example_icon(), example_listing, ""},
        {"size mismatch", patched(example_icon(), entry_at(0) + 8, 300), example_listing,
         "## ERROR: dwBytesInRes should be 296 (not 300)\n"},
        {"empty file", {}, "", "## ERROR: can't read ICONDIR\n"},
        {"five bytes", {0, 0, 1, 0, 1}, "", "## ERROR: can't read ICONDIR\n"},
        {"no entries", icon_file({}), "", ""},
        {"cursor without entries", icon_file({}, 2), "", "## WARNING: idType = 2 (should be 1)\n"},
        {"cursor", icon_file({sized_bitmap(16, 32, 4)}, 2), one_line,
         "## WARNING: idType = 2 (should be 1)\n"},
        {"idType 65535", icon_file({}, 65535), "", "## WARNING: idType = 65535 (should be 1)\n"},
        // Three entries claimed, one whole (all zero, so its image at offset 0
        // runs past the 31-byte file), the second cut after 9 bytes.
        {"directory cut mid-entry", cut(patched(icon_file({}), 4, 3, 2), 6 + 16 + 9),
         "ICONDIRENTRY[ 0] @      0\n",
         "## ERROR: can't read BITMAPINFOHEADER\n## ERROR: can't read ICONDIRENTRY\n## ERROR: can't read "
         "ICONDIRENTRY\n"},
        {"offset past the end", patched(one, entry_at(0) + 12, 999999), "ICONDIRENTRY[ 0] @ 999999\n",
         "## ERROR: can't read BITMAPINFOHEADER\n"},
        {"offset with bit 31", patched(one, entry_at(0) + 12, 0x80000016u), "ICONDIRENTRY[ 0] @-2147483626\n",
         "## ERROR: can't read BITMAPINFOHEADER\n"},
        {"offset of -1", patched(one, entry_at(0) + 12, 0xFFFFFFFFu), "ICONDIRENTRY[ 0] @     -1\n",
         "## ERROR: can't read BITMAPINFOHEADER\n"},
        {"short PNG at the end", icon_file({png_image(39)}), "ICONDIRENTRY[ 0] @     22\n",
         "## ERROR: can't read BITMAPINFOHEADER\n"},
        {"PNG of exactly 40 bytes", patched(icon_file({png_image(40)}), entry_at(0) + 8, 7),
         "ICONDIRENTRY[ 0] @     22 : PNG (Vista) format icon\n", ""},
        {"odd height", icon_file({bitmap_image(16, 33, 4, 296)}),
         "ICONDIRENTRY[ 0] @     22 : biWidth =  16  biHeight =  16*2  biPlanes = 1  biBitCount =  4  "
         "biClrUsed =   0\n",
         ""},
        {"negative odd height", icon_file({bitmap_image(16, -33, 4, 296)}),
         "ICONDIRENTRY[ 0] @     22 : biWidth =  16  biHeight = -16*2  biPlanes = 1  biBitCount =  4  "
         "biClrUsed =   0\n",
         "## ERROR: dwBytesInRes should be -88 (not 296)\n"},
        {"wide fields", icon_file({bitmap_image(INT32_MIN, INT32_MIN, 65535, 40)}),
         "ICONDIRENTRY[ 0] @     22 : biWidth =-2147483648  biHeight =-1073741824*2  biPlanes = 1  "
         "biBitCount =65535  "
         "biClrUsed =   0\n",
         ""},
        {"biClrUsed printed, not counted", patched(icon_file({sized_bitmap(32, 64, 8)}), 22 + 32, 16),
         "ICONDIRENTRY[ 0] @     22 : biWidth =  32  biHeight =  32*2  biPlanes = 1  biBitCount =  8  "
         "biClrUsed =  16\n",
         ""},
    };
}

TEST(Inspector, OneFileAtATime) {
    for (const file_case& c : file_cases()) {
        SCOPED_TRACE(c.name);
        expect_inspection(inspector, c.data, c.out, c.err);
    }
}

// All cases in one run, with missing paths and folders between them: every
// file is reported whole, in argument order, and a path that cannot be
// opened leaves no trace. A folder opens as an empty file on POSIX; Windows
// does not open it.
TEST(Inspector, ManyFilesInOneRun) {
    const scratch_dir dir;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int n = 0;
    for (const file_case& c : file_cases()) {
        // Built by appending: g++ 12 at -O2 takes "f" + ... for an overlapping
        // copy (-Wrestrict).
        std::string name = "f";
        name += std::to_string(n++);
        name += ".ico";
        const std::string path = dir.put(name, c.data);
        args.push_back(path);
        args.push_back(dir.file("missing.ico"));
        args.push_back(dir.path());
        out += path + "\n" + c.out;
        err += c.err;
        if (folders_open_as_files) {
            out += dir.path() + "\n";
            err += "## ERROR: can't read ICONDIR\n";
        }
    }
    const run_result r = run_program(inspector, args);
    EXPECT_TRUE(same_text(r.out, out));
    EXPECT_TRUE(same_text(r.err, err));
    EXPECT_EQ(r.status, 0);
}

TEST(Inspector, ThreeDigitIndexesAndFilesBeyondTheDescriptorLimit) {
    std::vector<bytes> images(101, sized_bitmap(1, 2, 1));
    const scratch_dir dir;
    const std::string path = dir.put("many.ico", icon_file(images));
    const run_result r = run_program(inspector, {path});
    const std::string line100 =
        "ICONDIRENTRY[100] @   7222 : biWidth =   1  biHeight =   1*2  biPlanes = 1  biBitCount =  1  "
        "biClrUsed =   0\n";
    EXPECT_NE(r.out.find("ICONDIRENTRY[99] @   7166 :"), std::string::npos);
    ASSERT_GE(r.out.size(), line100.size());
    EXPECT_EQ(r.out.substr(r.out.size() - line100.size()), line100);
    EXPECT_EQ(r.err, "");

    // Far more files than one process may hold open at once (1024 on Linux,
    // 512 streams in the Windows C runtime): each is closed before the next
    // is opened. Named from their folder, 1500 paths fit the 32,767
    // characters of a Windows command line; full names would not.
    const std::string small = dir.put("small.ico", icon_file({png_image(40)}));
    const std::vector<std::string> args(1500, "small.ico");
    const run_result many = run_program(inspector, args, {.cwd = dir.path()});
    EXPECT_EQ(many.status, 0);
    EXPECT_EQ(many.err, "");
    std::string expected;
    for (std::size_t i = 0; i < args.size(); ++i)
        expected += "small.ico\nICONDIRENTRY[ 0] @     22 : PNG (Vista) format icon\n";
    EXPECT_TRUE(same_text(many.out, expected));
}

}  // namespace
