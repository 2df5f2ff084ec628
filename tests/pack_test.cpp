// The built icon-pack run on generated PNG, icon and cursor files: standard
// output, standard error, exit status and the icon written, byte for byte
// against one built here from the images; every icon written must pass the
// image checks with no error.
#include <gtest/gtest.h>
#include <sys/stat.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "escape.hpp"
#include "file_checks.hpp"
#include "icon_bitmap.hpp"
#include "png_codec.hpp"
#include "shrink.hpp"
#include "svg_render.hpp"
#include "test_support.hpp"
#ifdef _WIN32
#include "windows_icon_loader.hpp"
#endif

using namespace icon_test;

namespace {

const std::string pack = ICON_PACK;

// One image as the packed file must carry it: its entry's fields, made by
// hand from what the image is, and its bytes.
struct made {
    bytes image;
    std::uint8_t width;  // 0 for 256
    std::uint8_t height;
    std::uint16_t planes;  // cursors: the hotspot's x
    std::uint16_t bits;    // cursors: the hotspot's y
    std::uint8_t colours = 0;
};

bytes packed(const std::vector<made>& images, std::uint16_t id_type = 1) {
    bytes out;
    put_u16(out, 0);
    put_u16(out, id_type);
    put_u16(out, static_cast<std::uint16_t>(images.size()));
    std::size_t offset = entry_at(images.size());
    for (const made& m : images) {
        out.insert(out.end(), {m.width, m.height, m.colours, 0});
        put_u16(out, m.planes);
        put_u16(out, m.bits);
        put_u32(out, static_cast<std::uint32_t>(m.image.size()));
        put_u32(out, static_cast<std::uint32_t>(offset));
        offset += m.image.size();
    }
    for (const made& m : images) out.insert(out.end(), m.image.begin(), m.image.end());
    return out;
}

// The lint checks' error and warning ids over a whole icon file.
std::vector<std::string> check_ids(const bytes& data) {
    const memory_stream stream(data);
    file_report report;
    EXPECT_TRUE(lint_stream(stream.get(), {}, report));
    std::vector<std::string> ids;
    for (const finding& f : report.findings) {
        if (f.level != severity::note) ids.push_back(std::string(f.id) + ":" + severity_name(f.level));
    }
    return ids;
}

struct input {
    std::string name;
    bytes data;
};

struct pack_case {
    const char* name;
    std::vector<input> inputs;
    std::vector<std::string> options;
    std::string out;  // the listing; "" when nothing is written
    std::string err;
    bytes written;  // what out.ico holds afterwards
    std::vector<std::string> warnings = {};
    bool posix_only = false;  // names that no Windows file can have
};

// A PNG stream of a 16 x 16 RGBA image with these chunks after IHDR.
bytes png_with(const std::vector<bytes>& chunks, std::uint8_t compression = 0, std::uint8_t filter = 0,
               std::uint8_t interlace = 0) {
    bytes out = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    const bytes ihdr = png_chunk("IHDR", {0, 0, 0, 16, 0, 0, 0, 16, 8, 6, compression, filter, interlace});
    out.insert(out.end(), ihdr.begin(), ihdr.end());
    for (const bytes& chunk : chunks) out.insert(out.end(), chunk.begin(), chunk.end());
    return out;
}

std::vector<pack_case> pack_cases() {
    const bytes p16 = png_stream(16, 16);
    const bytes p32 = png_stream(32, 32);
    const bytes p256 = png_stream(256, 256, 8, 6, 300);
    const bytes p48 = png_stream(48, 48);
    const bytes p48_rgb = png_stream(48, 48, 8, 2);
    const bytes b16 = sized_bitmap(16, 32, 4);
    const bytes b32 = sized_bitmap(32, 64, 8);
    // Entries that lie: the bitmap's size 4 bytes long, its width 32; the
    // PNG's size short by 10 and its depth 8.
    bytes lying = icon_file({b16, p32});
    lying = patched(lying, entry_at(0) + 8, 300);
    lying = patched(lying, entry_at(0), 32, 1);
    lying = patched(lying, entry_at(1) + 8, static_cast<std::uint32_t>(p32.size() - 10));
    lying = patched(lying, entry_at(1) + 6, 8, 2);
    const bytes broken = patched(p32, p32.size() - 4, 0x12345678u);  // IEND's CRC
    const bytes old = packed({{p16, 16, 16, 1, 32}});
    bytes cursor = patched(icon_file({b16}, 2), entry_at(0) + 4, 0x00030007u);  // hotspot (7, 3)
    cursor = patched(cursor, entry_at(0) + 2, 16, 1);
    const bytes cursor32 = patched(patched(icon_file({b32}, 2), entry_at(0), 0x2020u), entry_at(0) + 4, 0);
    // An icon_file entry says 32 bits and no colours.
    const std::string colours_16 =
        "note: corrected: the directory says 256 or more colours for this 4-bit image of 16 colours "
        "(bColorCount 0): no reader's choice changes [pack-corrected]\n";
    const std::string depth_4 =
        "note: corrected: the directory says 32 bits a pixel for this 4-bit image (wBitCount 32): no "
        "reader's choice changes [pack-corrected]\n";
    const std::string rgb =
        "warning: the PNG image is an RGB image without alpha (colour type 2 at 8 bits): Windows shows it "
        "with red and blue swapped [png-not-rgba]\n";
    const std::string all_fail = "Windows, Chrome, Firefox and Qt fail it";
    const std::string a_notes = "a.ico: image 0: " + colours_16 + "a.ico: image 0: " + depth_4;
    const std::string b_notes = "b.ico: image 0: " + colours_16 + "b.ico: image 0: " + depth_4;
    const std::string not_written =
        "out.ico: error: not written, since the inputs have errors [pack-not-written]\n";
    const bytes idat = png_chunk("IDAT", {1, 2, 3});
    const bytes iend = png_chunk("IEND", {});
    // Image 1 starts 8 bytes into image 0's PNG stream, past what its entry
    // claims: its bytes were examined as image 0's and are not read again.
    bytes inside = icon_file({p16, p16});
    inside = patched(inside, entry_at(0) + 8, 8);
    inside = patched(inside, entry_at(1) + 12, std::uint32_t(entry_at(2) + 8));
    return {
        {"PNG files in any order",
         {{"32.png", p32}, {"16.png", p16}, {"48rgb.png", p48_rgb}, {"256.png", p256}, {"48.png", p48}},
         {},
         "#   0:  256 x 256, 32 bits/pixel  PNG     256.png\n#   1:   48 x  48, 32 bits/pixel  PNG     "
         "48.png\n"
         "#   2:   48 x  48, 24 bits/pixel  PNG     48rgb.png\n#   3:   32 x  32, 32 bits/pixel  PNG     "
         "32.png\n"
         "#   4:   16 x  16, 32 bits/pixel  PNG     16.png\nPacked 5 images from 5 input files into "
         "out.ico.\n",
         "48rgb.png: " + rgb,
         packed({{p256, 0, 0, 1, 32},
                 {p48, 48, 48, 1, 32},
                 {p48_rgb, 48, 48, 1, 24},
                 {p32, 32, 32, 1, 32},
                 {p16, 16, 16, 1, 32}}),
         {"png-not-rgba:warning"}},
        {"the order given",
         {{"32.png", p32}, {"16.png", p16}, {"256.png", p256}},
         {"--keep-order"},
         "#   0:   32 x  32, 32 bits/pixel  PNG     32.png\n#   1:   16 x  16, 32 bits/pixel  PNG     "
         "16.png\n"
         "#   2:  256 x 256, 32 bits/pixel  PNG     256.png\nPacked 3 images from 3 input files into "
         "out.ico.\n",
         "",
         packed({{p32, 32, 32, 1, 32}, {p16, 16, 16, 1, 32}, {p256, 0, 0, 1, 32}})},
        {"duplicates: the first kept",
         {{"a.ico", icon_file({b16, p16})}, {"16.png", p16}, {"b.ico", icon_file({b16})}},
         {},
         "#   0:   16 x  16, 32 bits/pixel  PNG     a.ico, image 1\n"
         "#   1:   16 x  16,  4 bits/pixel  bitmap  a.ico, image 0\nPacked 2 images from 3 input files into "
         "out.ico.\n",
         a_notes +
             "16.png: note: skipped: 16 x 16, 32 bits/pixel already given by a.ico, image 1 "
             "[pack-duplicate]\n" +
             b_notes +
             "b.ico: image 0: note: skipped: 16 x 16, 4 bits/pixel already given by a.ico, image 0 "
             "[pack-duplicate]\n",
         packed({{p16, 16, 16, 1, 32}, {b16, 16, 16, 1, 4, 16}})},
        {"entries that lie are made anew",
         {{"lying.ico", lying}},
         {},
         "#   0:   32 x  32, 32 bits/pixel  PNG     lying.ico, image 1\n"
         "#   1:   16 x  16,  4 bits/pixel  bitmap  lying.ico, image 0\nPacked 2 images from 1 input files "
         "into out.ico.\n",
         "lying.ico: image 0: note: corrected: the directory says 32 x 16, the bitmap is 16 x 16: Chrome, "
         "Firefox and GNOME fail it; Qt shows another picture [pack-corrected]\n"
         "lying.ico: image 0: note: corrected: the directory gives the image 4 bytes more than it spans "
         "(dwBytesInRes 300 of 296): no reader is affected [pack-corrected]\n"
         "lying.ico: image 0: " +
             colours_16 + "lying.ico: image 0: " + depth_4 +
             "lying.ico: image 1: note: corrected: the directory says 16 x 16, the PNG image is 32 x 32: "
             "Chrome and Firefox fail it [pack-corrected]\n"
             "lying.ico: image 1: note: corrected: the directory's byte count ends after the PNG image's "
             "data, before its IEND chunk (dwBytesInRes 4186 of 4196): Qt fails it [pack-corrected]\n"
             "lying.ico: image 1: note: corrected: the directory says 8 bits a pixel for this 32-bit image "
             "(wBitCount 8): no reader's choice changes [pack-corrected]\n",
         packed({{p32, 32, 32, 1, 32}, {b16, 16, 16, 1, 4, 16}})},
        {"a broken PNG refuses the run",
         {{"16.png", p16}, {"broken.png", broken}, {"out.ico", old}},
         {},
         "",
         // The CRCs of an image that would be written are checked as it is copied.
         "out.ico: image 0: note: skipped: 16 x 16, 32 bits/pixel already given by 16.png "
         "[pack-duplicate]\n"
         "broken.png: error: the IEND chunk at byte 4184 is damaged: its CRC is 78563412, its bytes give "
         "AE426082: Qt fails it [png-crc]\n" +
             not_written,
         old},
        {"the output among the inputs",
         {{"out.ico", old}, {"32.png", p32}},
         {},
         "#   0:   32 x  32, 32 bits/pixel  PNG     32.png\n#   1:   16 x  16, 32 bits/pixel  PNG     "
         "out.ico, "
         "image 0\nPacked 2 images from 2 input files into out.ico.\n",
         "",
         packed({{p32, 32, 32, 1, 32}, {p16, 16, 16, 1, 32}})},
        {"cursors keep their hotspots",
         {{"a.cur", cursor}, {"b.cur", cursor32}},
         {},
         "#   0:   32 x  32,  8 bits/pixel  bitmap  b.cur, image 0\n"
         "#   1:   16 x  16,  4 bits/pixel  bitmap  a.cur, image 0\nPacked 2 images from 2 input files into "
         "out.ico.\n",
         "",
         packed({{b32, 32, 32, 0, 0}, {b16, 16, 16, 7, 3, 16}}, 2)},
        {"icons and cursors do not mix",
         {{"a.cur", cursor}, {"16.png", p16}, {"a.ico", icon_file({b16})}},
         {},
         "",
         "16.png: error: icons can't be packed with cursors [pack-mixed]\n"
         "a.ico: error: icons can't be packed with cursors [pack-mixed]\n" +
             not_written,
         {}},
        {"files that are not images, and a PNG too large",
         {{"notes.txt", {'h', 'i', '\n'}},
          {"photo.bmp", {'B', 'M', 0, 0, 0, 0}},
          {"big.png", png_stream(512, 512)}},
         {},
         "",
         "notes.txt: error: not a PNG, SVG, icon or cursor file [pack-input]\n"
         "photo.bmp: error: a BMP file can't be packed as it is; convert it to PNG [pack-bmp]\n"
         "big.png: error: the PNG image is 512 x 512 pixels, larger than an icon image (256 at most): give "
         "--sizes to make icon sizes from it [pack-large]\n" +
             not_written,
         {}},
        {"PNG streams that the readers fail",
         {{"compression.png", png_with({idat, iend}, 1)},
          {"filter.png", png_with({idat, iend}, 0, 1)},
          {"interlace.png", png_with({idat, iend}, 0, 0, 2)},
          {"no-idat.png", png_with({iend})},
          {"critical.png", png_with({png_chunk("ABCD", {}), idat, iend})},
          {"split.png", png_with({idat, png_chunk("tEXt", {'a', 0, 'b'}), idat, iend})}},
         {},
         "",
         "compression.png: error: IHDR's compression method is 1; PNG defines only 0: " + all_fail +
             " [png-ihdr-method]\n"
             "filter.png: error: IHDR's filter method is 1; PNG defines only 0: " +
             all_fail +
             " [png-ihdr-method]\n"
             "interlace.png: error: IHDR's interlace method is 2; PNG defines only 0 and 1: " +
             all_fail +
             " [png-ihdr-method]\n"
             "no-idat.png: error: the PNG stream has no IDAT chunk: no image data: " +
             all_fail +
             " [png-no-idat]\n"
             "critical.png: error: the ABCD chunk at byte 33 is critical (its first letter is upper case), "
             "but PNG does not define it: " +
             all_fail +
             " [png-unknown-critical]\n"
             "split.png: error: the IDAT chunks are not consecutive: a tEXt chunk at byte 48 lies between "
             "them: " +
             all_fail + " [png-idat-split]\n" + not_written,
         {}},
        {"an image inside another is not read again",
         {{"inside.ico", inside}},
         {},
         "",
         "inside.ico: image 0: note: corrected: the directory's byte count ends inside the PNG image's data "
         "(dwBytesInRes 8 of 1108): Windows and Firefox fail it; Firefox shows another picture "
         "[pack-corrected]\n"
         "inside.ico: image 1: error: its bytes start inside image 0's, which were examined already "
         "[pack-overlap]\n" +
             not_written,
         {}},
        {"an output that is not an icon file",
         {{"out.ico", p16}, {"32.png", p32}},
         {},
         "",
         "out.ico: error: not an icon file; refusing to replace it [pack-not-icon]\n",
         p16},
        {"names that would forge lines",
         {{"a\n.png", p32}, {"b\t\x1b[2K.png", p48_rgb}, {"c\xff\\.png", p48_rgb}},
         {},
         "#   0:   48 x  48, 24 bits/pixel  PNG     b\\t\\x1b[2K.png\n"
         "#   1:   32 x  32, 32 bits/pixel  PNG     a\\n.png\nPacked 2 images from 3 input files into "
         "out.ico.\n",
         "b\\t\\x1b[2K.png: " + rgb + "c\\xff\\\\.png: " + rgb +
             "c\\xff\\\\.png: note: skipped: 48 x 48, 24 bits/pixel already given by b\\t\\x1b[2K.png "
             "[pack-duplicate]\n",
         packed({{p48_rgb, 48, 48, 1, 24}, {p32, 32, 32, 1, 32}}),
         {"png-not-rgba:warning"},
         true},
    };
}

TEST(Pack, GeneratedInputs) {
    for (const pack_case& c : pack_cases()) {
        SCOPED_TRACE(c.name);
        if (on_windows && c.posix_only) continue;
        const scratch_dir dir;
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-o", "out.ico"});
        for (const input& in : c.inputs) {
            dir.put(in.name, in.data);
            args.push_back(in.name);
        }
        const run_result r = run_program(pack, args, {.cwd = dir.path()});
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, c.out.empty() ? 1 : 0);
        const bytes written = read_file(dir.file("out.ico"));
        EXPECT_EQ(written, c.written);
        if (!c.out.empty()) {
            EXPECT_EQ(check_ids(written), c.warnings);
        }
    }
}

TEST(Pack, CommandLines) {
    struct row {
        std::vector<std::string> args;
        int status;
        std::string err;  // its first line
        bool writes = false;
        bool quiet = false;  // written, and nothing listed
    };
    const row rows[] = {
        {{}, 2, "icon-pack: error: no output file given (-o OUTPUT)"},
        {{"a.png"}, 2, "icon-pack: error: no output file given (-o OUTPUT)"},
        {{"-o", "out.ico"}, 2, "icon-pack: error: no input files given"},
        {{"-o", "x.ico", "-o", "out.ico", "a.png"}, 2, "icon-pack: error: more than one output (-o) given"},
        {{"-x", "a.png"}, 2, "icon-pack: error: invalid option -- 'x'"},
        {{"a.png", "-o"}, 2, "icon-pack: error: option requires an argument -- 'o'"},
        {{"--keep-order=yes", "-o", "out.ico", "a.png"},
         2,
         "icon-pack: error: option '--keep-order' doesn't allow an argument"},
        {{"--x", "-o", "out.ico", "a.png"}, 2, "icon-pack: error: unrecognized option '--x'"},
        {{"--o", "out.ico", "a.png"}, 0, "", true},
        {{"--output"}, 2, "icon-pack: error: option '--output' requires an argument"},
        {{"-oout.ico", "a.png"}, 0, "", true},
        {{"a.png", "--output=out.ico", "--keep"}, 0, "", true},
        {{"--", "-o", "out.ico", "a.png"}, 2, "icon-pack: error: no output file given (-o OUTPUT)"},
        {{"-o", "out.ico", "--", "-a.png"},
         1,
         "-a.png: error: can't open: No such file or directory [pack-open]"},
        {{"-o", "out.ico", "-"}, 1, "-: error: standard input can't be an input; name a file [pack-input]"},
        {{"-o", "-", "a.png"}, 1, "-: error: can't be the output: it names standard output [pack-output]"},
        {{"-o", ".", "a.png"}, 1, ".: error: can't be the output: is a directory [pack-output]"},
        {{"-o", "none/out.ico", "a.png"},
         1,
         "none/out.ico: error: can't create a file beside it: No such file or directory [pack-create]"},
        {{"--quiet", "-o", "out.ico", "a.png", "a.png"},
         0,
         "a.png: note: skipped: 16 x 16, 32 bits/pixel already given by a.png [pack-duplicate]",
         true,
         true},
        {{"-o", "out.ico", "--qu", "-"},
         1,
         "-: error: standard input can't be an input; name a file [pack-input]"},
        {{"--help", "-x"}, 0, ""},
        {{"-o", "", "a.png"}, 2, "icon-pack: error: the output file name is empty"},
        // The output's name forgotten: the first input would be replaced.
        {{"-o", "a.png", "a.png"},
         1,
         "a.png: error: not an icon file; refusing to replace it [pack-not-icon]"},
        {{"--vers"}, 0, ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.err);
        const scratch_dir dir;
        dir.put("a.png", png_stream(16, 16));
        const run_result result = run_program(pack, r.args, {.cwd = dir.path()});
        EXPECT_EQ(result.status, r.status);
        EXPECT_EQ(result.err.substr(0, result.err.find('\n')), r.err);
        EXPECT_EQ(read_file(dir.file("out.ico")).empty(), !r.writes);
        if (r.writes) {
            EXPECT_EQ(result.out.empty(), r.quiet);
        }
    }
    EXPECT_EQ(run_program(pack, {"--version"}).out,
              "icon-pack (icon-tools) 1.0.0\nPNG: libspng 0.7.3, zlib 1.2.13; SVG: " +
                  std::string(svg_supported() ? svg_renderer_version() : "none (this build has no librsvg)") +
                  "\n");
}

#ifdef ICON_REOPEN_SHIM
// Loads the test shim into a program started by run_program (see
// reopen_shim.cpp); `log` receives the folders it writes out.
std::function<void()> with_shim(const std::string& log = {}) {
    return [log] {
        setenv("LD_PRELOAD", ICON_REOPEN_SHIM, 1);
        const char* asan = std::getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":verify_asan_link_order=0").c_str(), 1);
        if (!log.empty()) setenv("ICON_FSYNC_LOG", log.c_str(), 1);
    };
}
#endif

// Names in `folder` that a run left behind: its temporary files.
std::vector<std::string> leftovers(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) names.push_back(name);
    }
    return names;
}

// How an existing output is replaced: whole, keeping its permission bits,
// owner and group, through its symbolic links, never when the user may not
// write it or it is not an icon file, and with nothing left beside it.
TEST(Pack, OutputsReplacedSafely) {
    const bytes old = icon_file({});
    const bytes p16 = png_stream(16, 16);
    const bytes made = packed({{p16, 16, 16, 1, 32}});
    struct row {
        const char* name;
        // Makes the output in `dir` (the run writes "out.ico" there) and
        // answers the file that holds its bytes.
        std::function<std::string(const scratch_dir& dir)> make;
        int status;
        std::string err;
        // The file's permission bits, owner and group afterwards; -1: not checked.
        int mode = -1;
        int owner = -1;
        bool as_nobody = false;  // run as user and group 65534, which root may be
        bool root_only = false;
        bool posix_only = false;
    };
#ifdef _WIN32
    const bool root = false;
    const int created = -1;
#else
    const bool root = geteuid() == 0;
    const mode_t mask = umask(0);
    umask(mask);
    const int created = static_cast<int>(0666 & ~mask);
#endif
    const auto existing = [old](int mode) {
        return [old, mode](const scratch_dir& dir) {
            std::string out = dir.put("out.ico", old);
            if (mode >= 0) chmod(out.c_str(), static_cast<mode_t>(mode));
            return out;
        };
    };
    std::vector<row> rows = {
        {"a new output", [](const scratch_dir& dir) { return dir.file("out.ico"); }, 0, "", created},
        {"the permission bits kept", existing(0640), 0, "", 0640, -1, false, false, true},
        {"an empty output replaced", [](const scratch_dir& dir) { return dir.put("out.ico", {}); }, 0, ""},
        {"a read-only output refused", existing(0444), 1,
         "out.ico: error: can't be the output: no permission to write to it [pack-output]\n"},
        {"a root-owned output that no one may write refused", existing(0), 1,
         "out.ico: error: can't be the output: no permission to write to it [pack-output]\n", -1, -1, false,
         true, true},
#ifndef _WIN32
        {"a symbolic link: its file replaced",
         [old](const scratch_dir& dir) {
             std::filesystem::create_directory(dir.file("sub"));
             std::string file = dir.put("sub/real.ico", old);
             if (symlink("sub/real.ico", dir.file("out.ico").c_str()) != 0) ADD_FAILURE() << "symlink";
             return file;
         },
         0, "", -1, -1, false, false, true},
        {"a link that leads nowhere: its file made",
         [](const scratch_dir& dir) {
             std::filesystem::create_directory(dir.file("sub"));
             if (symlink("sub/new.ico", dir.file("out.ico").c_str()) != 0) ADD_FAILURE() << "symlink";
             return dir.file("sub/new.ico");
         },
         0, "", -1, -1, false, false, true},
        {"the owner and group kept",
         [old](const scratch_dir& dir) {
             std::string out = dir.put("out.ico", old);
             chmod(out.c_str(), 0600);
             if (chown(out.c_str(), 65534, 65534) != 0) ADD_FAILURE() << "chown";
             return out;
         },
         0, "", 0600, 65534, false, true, true},
        {"an owner that cannot be kept: nothing written",
         [old](const scratch_dir& dir) {
             chmod(dir.path().c_str(), 0777);
             std::string out = dir.put("out.ico", old);
             chmod(out.c_str(), 0666);
             return out;
         },
         1, "out.ico: error: can't keep the owner of the existing file [pack-owner]\n", 0666, 0, true, true,
         true},
#endif
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        if ((r.root_only && !root) || (r.posix_only && on_windows)) continue;
        const scratch_dir dir;
        const std::string file = r.make(dir);
        const bytes before = read_file(file);
        dir.put("a.png", p16);
        run_options options{.cwd = dir.path()};
#ifndef _WIN32
        if (r.as_nobody) {
            chmod(dir.file("a.png").c_str(), 0644);
            options.in_child = [] {
                if (setgid(65534) != 0 || setuid(65534) != 0) _exit(125);
            };
        }
#endif
        const run_result result = run_program(pack, {"-o", "out.ico", "a.png"}, options);
        EXPECT_EQ(result.status, r.status);
        EXPECT_EQ(result.err, r.err);
        EXPECT_EQ(read_file(file), r.status == 0 ? made : before);
        EXPECT_EQ(leftovers(dir.path()), std::vector<std::string>{});
#ifndef _WIN32
        if (std::filesystem::exists(dir.file("sub"))) {
            EXPECT_EQ(leftovers(dir.file("sub")), std::vector<std::string>{});
            EXPECT_TRUE(std::filesystem::is_symlink(dir.file("out.ico")));
        }
        struct stat st {};
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        if (r.mode >= 0) {
            EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(r.mode));
        }
        if (r.owner >= 0) {
            EXPECT_EQ(st.st_uid, static_cast<uid_t>(r.owner));
            EXPECT_EQ(st.st_gid, static_cast<gid_t>(r.owner));
        }
#endif
        // A read-only file cannot be removed with its folder on Windows.
        std::error_code ignored;
        std::filesystem::permissions(
            file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ignored);
    }
}

// An output that is standard output or standard error is refused before
// anything is written.
TEST(Pack, OutputThatIsAStandardStream) {
    const scratch_dir dir;
    const std::string out = dir.put("out.ico", icon_file({}));
    const std::string in = dir.put("a.png", png_stream(16, 16));
    const run_result r = run_program(pack, {"-o", out, in}, {.out_file = out});
    EXPECT_EQ(r.status, 1);
    // Shown escaped: on Windows, each backslash of the path doubled.
    EXPECT_EQ(r.err,
              escaped_name(out) + ": error: can't be the output: it is also standard output [pack-output]\n");
}

#ifdef ICON_REOPEN_SHIM
// After the rename, the folder is written out to the disk, so that the new
// name survives a crash.
TEST(Pack, FolderWrittenOutAfterTheRename) {
    const scratch_dir dir;
    dir.put("a.png", png_stream(16, 16));
    const std::string log = dir.file("fsync.log");
    const run_result r =
        run_program(pack, {"-o", "out.ico", "a.png"}, {.cwd = dir.path(), .in_child = with_shim(log)});
    EXPECT_EQ(r.status, 0);
    const bytes logged = read_file(log);
    EXPECT_EQ(std::string(logged.begin(), logged.end()), "folder\n");
}
#endif

#ifdef ICON_REOPEN_SHIM
// What is written is exactly what was examined: an input that changes
// between the first look and the copy, even keeping its size, fails the run
// and leaves the output as it was. The shim gives the copy "a.png.then".
TEST(Pack, InputsThatChangeBetweenTheLooks) {
    const bytes png = png_stream(16, 16, 8, 6, 100);
    const bytes larger = png_stream(64, 64, 8, 6, 100);  // as long: only IHDR differs
    const std::size_t idat_data = 8 + 25 + 8;
    const std::string not_written =
        "out.ico: error: not written, since the inputs have errors [pack-not-written]\n";
    struct row {
        const char* name;
        bytes then;
        std::string err;  // its first line
    };
    const row rows[] = {
        {"an identical copy", png, ""},
        {"64 pixels in IHDR, the length kept", larger,
         "a.png: error: changed while it was packed [pack-changed]"},
        {"a byte of IDAT changed, the length kept", patched(png, idat_data + 10, 0xEE, 1),
         "a.png: error: the IDAT chunk at byte 33 is damaged: its CRC is "},
        {"cut", cut(png, 60), "a.png: error: changed while it was packed [pack-changed]"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const scratch_dir dir;
        const bytes old = icon_file({});
        dir.put("out.ico", old);
        dir.put("a.png", png);
        dir.put("a.png.then", r.then);
        const run_result result =
            run_program(pack, {"-o", "out.ico", "a.png"}, {.cwd = dir.path(), .in_child = with_shim()});
        EXPECT_EQ(result.err.substr(0, r.err.size()), r.err);
        EXPECT_EQ(result.status, r.err.empty() ? 0 : 1);
        if (!r.err.empty()) {
            EXPECT_TRUE(result.err.ends_with(not_written)) << result.err;
        }
        EXPECT_EQ(read_file(dir.file("out.ico")), r.err.empty() ? packed({{png, 16, 16, 1, 32}}) : old);
        EXPECT_EQ(leftovers(dir.path()), std::vector<std::string>{});
    }
}
#endif

#ifndef _WIN32
// SIGINT, SIGTERM and SIGHUP while the output is written remove the
// temporary file and end icon-pack by the same signal; the output stays as
// it was. The run is held with its temporary file in place by a standard
// error that nobody reads: the second look's warnings (each image's tEXt
// chunk has a broken CRC) fill the pipe. By then the temporary file has the
// output's permission bits, before its images are written.
TEST(Pack, SignalsRemoveTheTemporaryFile) {
    const scratch_dir dir;
    const bytes old = icon_file({});
    const std::string out = dir.put("out.ico", old);
    chmod(out.c_str(), 0640);
    std::vector<std::string> args = {"-o", "out.ico"};
    const bytes text = patched(png_chunk("tEXt", {'a', 0, 'b'}), 8 + 3, 0);
    for (std::uint32_t side = 1; side <= 256; ++side) {
        bytes png = png_stream(side, side);
        png.insert(png.begin() + 8 + 25, text.begin(), text.end());
        args.push_back(std::string(200, 'n') + "-" + std::to_string(side) + ".png");
        dir.put(args.back(), png);
    }
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(number);
        int err[2];
        ASSERT_EQ(pipe(err), 0);
        const std::vector<std::string> command = command_of(pack, args);
        std::vector<char*> argv;
        for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(err[1], 2);
            close(err[0]);
            if (chdir(dir.path().c_str()) != 0) _exit(126);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(err[1]);
        // Until bytes are written to the temporary file, waiting at most a minute.
        std::vector<std::string> temporary;
        struct stat st {};
        for (int waited = 0; waited < 6000; ++waited) {
            temporary = leftovers(dir.path());
            if (temporary.size() == 1 && stat(dir.file(temporary[0]).c_str(), &st) == 0 && st.st_size > 0)
                break;
            usleep(10000);
        }
        ASSERT_EQ(temporary.size(), 1u);
        EXPECT_GT(st.st_size, 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
        kill(pid, number);
        char block[4096];
        while (read(err[0], block, sizeof block) > 0) {
        }
        close(err[0]);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << status;
        EXPECT_EQ(leftovers(dir.path()), std::vector<std::string>{});
        EXPECT_EQ(read_file(out), old);
    }
}
#endif

// ---- made sizes ------------------------------------------------------------------------------

// A PNG stream of raw rows (each row's packed samples, without its filter
// byte) in stored deflate blocks, made here without any library, for the
// forms the encoder never writes: 16-bit samples, data that does not inflate.
bytes raw_png(std::uint32_t width, std::uint32_t height, std::uint8_t depth, std::uint8_t colour_type,
              const bytes& rows, const std::vector<bytes>& before_idat = {}) {
    const std::uint32_t channels = colour_type == 6 ? 4 : colour_type == 2 ? 3 : colour_type == 4 ? 2 : 1;
    const std::size_t stride = (std::size_t{width} * channels * depth + 7) / 8;
    bytes raw;
    // Rows past those given are left out (a header that claims more).
    for (std::uint32_t y = 0; y < height && stride * (y + 1) <= rows.size(); ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rows.begin() + static_cast<long>(stride * y),
                   rows.begin() + static_cast<long>(stride * (y + 1)));
    }
    bytes z = {0x78, 0x01};
    for (std::size_t at = 0; at < raw.size() || at == 0;) {
        const std::size_t n = std::min<std::size_t>(raw.size() - at, 65535);
        z.push_back(at + n == raw.size() ? 1 : 0);
        put_u16(z, static_cast<std::uint16_t>(n));
        put_u16(z, static_cast<std::uint16_t>(~n));
        z.insert(z.end(), raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(at + n));
        at += n;
        if (n == 0) break;
    }
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    const std::uint32_t adler = b << 16 | a;
    z.insert(z.end(), {static_cast<std::uint8_t>(adler >> 24), static_cast<std::uint8_t>(adler >> 16),
                       static_cast<std::uint8_t>(adler >> 8), static_cast<std::uint8_t>(adler)});
    bytes out = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    const auto be = [](std::uint32_t v) {
        return bytes{static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                     static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    };
    bytes ihdr = be(width);
    const bytes h = be(height);
    ihdr.insert(ihdr.end(), h.begin(), h.end());
    ihdr.insert(ihdr.end(), {depth, colour_type, 0, 0, 0});
    for (const bytes& chunk : {png_chunk("IHDR", ihdr)}) out.insert(out.end(), chunk.begin(), chunk.end());
    for (const bytes& chunk : before_idat) out.insert(out.end(), chunk.begin(), chunk.end());
    for (const bytes& chunk : {png_chunk("IDAT", z), png_chunk("IEND", {})})
        out.insert(out.end(), chunk.begin(), chunk.end());
    return out;
}

// A master of `side` pixels: transparent, an opaque red disc, a translucent
// blue square over it, and a black line one pixel wide across.
rgba_image master_image(std::uint32_t side) {
    rgba_image image;
    make_image(side, side, image);
    const double c = side / 2.0;
    for (std::uint32_t y = 0; y < side; ++y) {
        for (std::uint32_t x = 0; x < side; ++x) {
            std::uint8_t* p = image.pixels.data() + (std::size_t{y} * side + x) * 4;
            const double dx = x + 0.5 - c;
            const double dy = y + 0.5 - c;
            if (dx * dx + dy * dy < c * c * 0.7) p[0] = 255, p[3] = 255;
            if (x > side / 4 && x < side / 2 && y > side / 3 && y < side * 3 / 4)
                p[2] = 200, p[3] = 160, p[0] = 40;
            if (x == y / 2 + side / 8) p[0] = p[1] = p[2] = 0, p[3] = 255;
        }
    }
    return image;
}

bytes encoded(const rgba_image& image) {
    bytes png;
    EXPECT_EQ(encode_png(image, png), image_status::ok);
    return png;
}

// What icon-pack must write for `side` made from `source`: the library's
// shrink, encoded as PNG for an icon or as a bitmap.
made made_from(const rgba_image& source, std::uint32_t side, bool bitmap = false, bool linear = false) {
    rgba_image small;
    EXPECT_EQ(shrink_image(source, side, side, small, linear ? colour_space::linear : colour_space::srgb),
              image_status::ok);
    bytes image;
    if (bitmap) {
        EXPECT_EQ(encode_icon_bitmap(small, image), image_status::ok);
    } else {
        EXPECT_EQ(encode_png(small, image, png_use::icon), image_status::ok);
    }
    static constexpr std::uint16_t channels[7] = {1, 0, 3, 1, 2, 0, 4};
    const auto bits = static_cast<std::uint16_t>(bitmap ? 32 : image[24] * channels[image[25] % 7]);
    const auto side8 = static_cast<std::uint8_t>(side & 0xFF);
    return {image, side8, side8, 1, bits};
}

// A listing line of icon-pack.
std::string listed(int position, const made& m, const std::string& from) {
    char line[200];
    const int side = m.width == 0 ? 256 : m.width;
    const bool png = m.image.size() > 8 && m.image[0] == 0x89;
    std::snprintf(line, sizeof line, "#%4d: %4d x%4d,%3d %s  %-7s %s\n", position, side, side,
                  static_cast<int>(m.bits), m.bits == 1 ? "bit/pixel " : "bits/pixel", png ? "PNG" : "bitmap",
                  from.c_str());
    return line;
}

TEST(Pack, MadeSizes) {
    const rgba_image m64 = master_image(64);
    const rgba_image m300 = master_image(300);
    const bytes master = encoded(m64);
    const bytes big = encoded(m300);
    const rgba_image m32 = master_image(32);
    const bytes p32 = encoded(m32);
    const bytes p16 = png_stream(16, 16);
    const bytes old = packed({{p16, 16, 16, 1, 32}});
    const std::string not_written =
        "out.ico: error: not written, since the inputs have errors [pack-not-written]\n";
    const std::string from64 = "made from master.png (64 x 64)";
    // 16-bit RGBA, each sample's high byte the 8-bit value.
    bytes rows16;
    for (std::size_t i = 0; i < std::size_t{32} * 32 * 4; ++i) {
        rows16.push_back(m32.pixels[i]);
        rows16.push_back(static_cast<std::uint8_t>(i));
    }
    const bytes deep = raw_png(32, 32, 16, 6, rows16);
    bytes not_inflating = raw_png(32, 32, 8, 6, m32.pixels);
    const std::size_t idat = 8 + 25 + 8;  // the IDAT chunk's data
    not_inflating[idat + 2] = 0x07;       // a deflate block type that does not exist
    const bytes idat_data(not_inflating.begin() + static_cast<long>(idat), not_inflating.end() - 12 - 4);
    not_inflating =
        patched(not_inflating, not_inflating.size() - 12 - 4, 0);  // placeholder CRC, mended below
    {
        bytes typed = {'I', 'D', 'A', 'T'};
        typed.insert(typed.end(), idat_data.begin(), idat_data.end());
        const std::uint32_t crc = reference_crc(typed);
        const std::size_t at = not_inflating.size() - 12 - 4;
        for (int k = 0; k < 4; ++k)
            not_inflating[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
    }
    bytes bad_crc = master;
    bad_crc[idat + 10] ^= 0xFF;  // inside IDAT: its CRC no longer matches
    const bytes bomb = raw_png(60000, 60000, 8, 6, {});
    const std::string half_red =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\" viewBox=\"0 0 4 4\">"
        "<rect x=\"0\" y=\"0\" width=\"2\" height=\"4\" fill=\"#ff0000\"/></svg>";
    const bytes svg(half_red.begin(), half_red.end());
    const std::string broken_text = "<svg xmlns=\"http://www.w3.org/2000/svg\"><rect";
    const bytes broken_svg(broken_text.begin(), broken_text.end());

    const made m48 = made_from(m64, 48);
    const made m24 = made_from(m64, 24);
    const made m16 = made_from(m64, 16);
    const made b16 = made_from(m64, 16, true);
    const made l24 = made_from(m64, 24, false, true);
    const made m256 = made_from(m300, 256);
    const made s24 = made_from(m32, 24);
    const made d32 = made_from(m32, 32);  // the 16-bit image's 8-bit samples, at its size
    std::vector<pack_case> cases = {
        {"sizes made from a PNG master",
         {{"master.png", master}},
         {"--sizes=16,48,24"},
         listed(0, m48, from64) + listed(1, m24, from64) + listed(2, m16, from64) +
             "Packed 3 images (3 made) from 1 input files into out.ico.\n",
         "",
         packed({m48, m24, m16})},
        {"in linear light, and a bitmap",
         {{"master.png", master}},
         {"--sizes=24,16", "--bitmap=16", "--linear"},
         listed(0, l24, from64) + listed(1, made_from(m64, 16, true, true), from64) +
             "Packed 2 images (2 made) from 1 input files into out.ico.\n",
         "",
         packed({l24, made_from(m64, 16, true, true)})},
        {"kept sizes byte for byte, the others from the smallest larger image",
         {{"master.png", master}, {"16.png", p16}, {"32.png", p32}},
         {"--sizes=16,24,32", "--bitmap=16"},
         listed(0, {p32, 32, 32, 1, 32}, "32.png") + listed(1, s24, "made from 32.png (32 x 32)") +
             listed(2, {p16, 16, 16, 1, 32}, "16.png") +
             "Packed 3 images (1 made) from 3 input files into out.ico.\n",
         "master.png: note: left out: 64 x 64 is not among the sizes asked for [pack-left-out]\n",
         packed({{p32, 32, 32, 1, 32}, s24, {p16, 16, 16, 1, 32}})},
        {"--keep-order: in the order of the sizes",
         {{"master.png", master}},
         {"--sizes=16,48", "--keep-order", "--bitmap=16"},
         listed(0, b16, from64) + listed(1, m48, from64) +
             "Packed 2 images (2 made) from 1 input files into out.ico.\n",
         "",
         packed({b16, m48})},
        {"never enlarged",
         {{"32.png", p32}, {"out.ico", old}},
         {"--sizes=16,48"},
         "",
         "out.ico: error: can't make 48 x 48: no input image is as large, and icon-pack never enlarges "
         "[pack-enlarge]\n" +
             not_written,
         old},
        {"a source over 256 pixels is made from, not packed",
         {{"big.png", big}},
         {"--sizes=256"},
         listed(0, m256, "made from big.png (300 x 300)") +
             "Packed 1 images (1 made) from 1 input files into out.ico.\n",
         "",
         packed({m256})},
        {"16-bit samples: the image made anew at its size",
         {{"deep.png", deep}},
         {},
         listed(0, d32, "made from deep.png (32 x 32)") +
             "Packed 1 images (1 made) from 1 input files into out.ico.\n",
         "deep.png: note: 16-bit samples, which Windows (Wine 8) refuses: an image made from it with 8-bit "
         "samples "
         "is written instead [pack-16-bit]\n",
         packed({d32})},
        {"16-bit samples beside 8-bit ones of the size",
         {{"32.png", p32}, {"deep.png", deep}},
         {},
         listed(0, {p32, 32, 32, 1, 32}, "32.png") + "Packed 1 images from 2 input files into out.ico.\n",
         "deep.png: note: 16-bit samples, which Windows (Wine 8) refuses: an image made from it with 8-bit "
         "samples "
         "is written instead [pack-16-bit]\n"
         "deep.png: note: skipped: 32 x 32 is given with 8-bit samples too [pack-duplicate]\n",
         packed({{p32, 32, 32, 1, 32}})},
        {"bad sources: nothing written",
         {{"crc.png", bad_crc}, {"out.ico", old}},
         {"--sizes=16"},
         "",
         "crc.png: error: can't decode its image: corrupt image data [pack-decode]\n" + not_written,
         old},
        {"data that does not inflate",
         {{"z.png", not_inflating}},
         {"--sizes=16"},
         "",
         "z.png: error: can't decode its image: compressed image data does not inflate [pack-decode]\n" +
             not_written,
         {}},
        {"a decompression bomb, refused from its header",
         {{"bomb.png", bomb}},
         {"--sizes=16"},
         "",
         "bomb.png: error: the PNG image is 60000 x 60000 pixels, beyond what a source may have: 65535 a "
         "side, "
         "67108864 pixels in all (256 MiB of RGBA) [pack-large]\n" +
             not_written,
         {}},
        {"a cut master",
         {{"cut.png", cut(master, master.size() - 20)}},
         {"--sizes=16"},
         "",
         "cut.png: error: the file ends at byte " + std::to_string(master.size() - 20) +
             ", inside the PNG stream and before its IEND chunk: Windows, Chrome, Firefox and Qt fail it "
             "[image-truncated]\n" +
             not_written,
         {}},
        {"an SVG drawing without --sizes",
         {{"logo.svg", svg}},
         {},
         "",
         "logo.svg: error: an SVG drawing needs --sizes, the sizes to draw it at [pack-svg]\n" + not_written,
         {}},
    };
    if (svg_supported()) {
        const auto drawn = [&svg](std::uint32_t side, bool bitmap) {
            rgba_image image;
            std::string reason;
            EXPECT_EQ(render_svg(svg.data(), svg.size(), side, side, image, reason), image_status::ok);
            bytes out;
            EXPECT_EQ(bitmap ? encode_icon_bitmap(image, out) : encode_png(image, out, png_use::icon),
                      image_status::ok);
            static constexpr std::uint16_t channels[7] = {1, 0, 3, 1, 2, 0, 4};
            return made{out, static_cast<std::uint8_t>(side), static_cast<std::uint8_t>(side), 1,
                        static_cast<std::uint16_t>(bitmap ? 32 : out[24] * channels[out[25] % 7])};
        };
        rgba_image ignored;
        std::string reason;
        render_svg(broken_svg.data(), broken_svg.size(), 16, 16, ignored, reason);
        cases.push_back(
            {"an SVG drawing, drawn at each size not given",
             {{"logo.svg", svg}, {"master.png", master}, {"16.png", p16}},
             {"--sizes=48,16,20", "--bitmap=20"},
             listed(0, drawn(48, false), "made from logo.svg (SVG)") +
                 listed(1, drawn(20, true), "made from logo.svg (SVG)") +
                 listed(2, {p16, 16, 16, 1, 32}, "16.png") +
                 "Packed 3 images (2 made) from 3 input files into out.ico.\n",
             "master.png: note: left out: 64 x 64 is not among the sizes asked for [pack-left-out]\n",
             packed({drawn(48, false), drawn(20, true), {p16, 16, 16, 1, 32}})});
        cases.push_back({"an SVG drawing librsvg refuses",
                         {{"broken.svg", broken_svg}},
                         {"--sizes=16"},
                         "",
                         "broken.svg: error: can't draw it: " + reason + " [pack-svg]\n" + not_written,
                         {}});
    } else {
        cases.push_back(
            {"an SVG drawing in a build without librsvg",
             {{"logo.svg", svg}},
             {"--sizes=16"},
             "",
             "logo.svg: error: this build has no SVG support (librsvg); give a PNG image of 256 pixels "
             "or more instead [pack-svg]\n" +
                 not_written,
             {}});
    }
    for (const pack_case& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_dir dir;
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-o", "out.ico"});
        for (const input& in : c.inputs) {
            dir.put(in.name, in.data);
            if (in.name != "out.ico") args.push_back(in.name);
        }
        const run_result r = run_program(pack, args, {.cwd = dir.path()});
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, c.out.empty() ? 1 : 0);
        const bytes written = read_file(dir.file("out.ico"));
        EXPECT_TRUE(written == c.written)
            << written.size() << " bytes written, " << c.written.size() << " expected";
        if (!c.out.empty()) {
            EXPECT_EQ(check_ids(written), c.warnings);
        }
        EXPECT_EQ(leftovers(dir.path()), std::vector<std::string>{});
    }
}

// The examples' PNG files of these sizes (largest first) copied into `dir`
// and packed, in another order, into out.ico there.
bool packed_example_pngs(const scratch_dir& dir, const std::vector<std::string>& sizes) {
    std::vector<std::string> args = {"-o", "out.ico"};
    for (const std::string& size : sizes) {
        dir.put("icon-" + size + ".png", read_file(std::string(ICON_EXAMPLES) + "/icon-" + size + ".png"));
        args.insert(args.begin() + 2, "icon-" + size + ".png");
    }
    return run_program(pack, args, {.cwd = dir.path()}).status == 0;
}

// icoutils' icotool, an independent reader, lists every packed image with
// the size and depth of its PNG file and extracts it byte for byte.
TEST(Pack, PackedImagesReadBackInAPeer) {
    if (on_windows) GTEST_SKIP() << "a Windows test cannot wait for a program of the host, such as icotool";
    const std::string icotool = "/usr/bin/icotool";
    struct stat st {};
    if (stat(icotool.c_str(), &st) != 0) GTEST_SKIP() << "icotool (icoutils) is not installed";
    const scratch_dir dir;
    const std::vector<std::string> sizes = {"48", "32", "16"};
    ASSERT_TRUE(packed_example_pngs(dir, sizes));
    const run_result list = run_program(icotool, {"-l", dir.file("out.ico")}, {.host_tool = true});
    const run_result extract =
        run_program(icotool, {"-x", "-o", dir.path(), dir.file("out.ico")}, {.host_tool = true});
    EXPECT_EQ(extract.status, 0) << extract.err;
    std::string want;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::string& n = sizes[i];
        const std::string index = std::to_string(i + 1);
        want += "--icon --index=" + index + " --width=" + n + " --height=" + n +
                " --bit-depth=32 --palette-size=0\n";
        const bytes extracted = read_file(dir.file("out_" + index + "_" + n + "x" + n + "x32.png"));
        EXPECT_FALSE(extracted.empty());
        EXPECT_EQ(extracted, read_file(dir.file("icon-" + n + ".png"))) << n;
    }
    EXPECT_EQ(list.out, want);
}

// Pillow and ImageMagick, where installed, decode every packed image to the
// pixels of its PNG file.
TEST(Pack, PackedImagesDecodeInPeers) {
    if (on_windows) GTEST_SKIP() << "a Windows test cannot wait for a program of the host";
    // Each peer's command that writes the RGBA pixels of image `index` of a
    // file (-1: the file is a PNG file), and the command that tells whether
    // the peer is there.
    struct peer {
        const char* name;
        std::vector<std::string> probe;
        std::vector<std::string> (*decode)(const std::string& file, int index);
    };
    const peer peers[] = {
        {"Pillow",
         {"/usr/bin/python3", "-c", "import PIL"},
         [](const std::string& file, int index) -> std::vector<std::string> {
             static const char* const script =
                 "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\ni = int(sys.argv[2])\n"
                 "im = im.ico.frame(i) if i >= 0 else im\n"
                 "sys.stdout.buffer.write(im.convert('RGBA').tobytes())";
             return {"/usr/bin/python3", "-c", script, file, std::to_string(index)};
         }},
        {"ImageMagick",
         {"/usr/bin/convert", "-list", "format"},
         [](const std::string& file, int index) -> std::vector<std::string> {
             return {"/usr/bin/convert", index >= 0 ? file + "[" + std::to_string(index) + "]" : file,
                     "rgba:-"};
         }},
    };
    const scratch_dir dir;
    const std::vector<std::string> sizes = {"48", "32", "16"};
    ASSERT_TRUE(packed_example_pngs(dir, sizes));
    const auto run_peer = [](const std::vector<std::string>& command) {
        return run_program(command[0], {command.begin() + 1, command.end()}, {.host_tool = true});
    };
    for (const peer& p : peers) {
        SCOPED_TRACE(p.name);
        const run_result probe = run_peer(p.probe);
        if (probe.status != 0 ||
            (p.probe[0] == "/usr/bin/convert" && probe.out.find("ICO") == std::string::npos))
            continue;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            const run_result packed = run_peer(p.decode(dir.file("out.ico"), static_cast<int>(i)));
            const run_result original = run_peer(p.decode(dir.file("icon-" + sizes[i] + ".png"), -1));
            EXPECT_EQ(packed.status, 0) << packed.err;
            const std::size_t side = std::stoul(sizes[i]);
            EXPECT_EQ(original.out.size(), side * side * 4);
            EXPECT_TRUE(packed.out == original.out) << "image " << i;
        }
    }
}

// Made sizes as the peers read them: Pillow decodes each image of the icon,
// PNG or bitmap, and icotool extracts each (a bitmap as a PNG file), to the
// pixels of the library's shrink of the master.
TEST(Pack, MadeImagesDecodeInPeers) {
    if (on_windows) GTEST_SKIP() << "a Windows test cannot wait for a program of the host";
    const scratch_dir dir;
    const rgba_image master = master_image(64);
    dir.put("master.png", encoded(master));
    const std::vector<std::uint32_t> sides = {48, 24, 16};
    ASSERT_EQ(run_program(pack, {"-o", "out.ico", "--sizes=48,24,16", "--bitmap=16", "master.png"},
                          {.cwd = dir.path()})
                  .status,
              0);
    std::vector<std::string> want;
    for (const std::uint32_t side : sides) {
        rgba_image small;
        ASSERT_EQ(shrink_image(master, side, side, small), image_status::ok);
        want.emplace_back(small.pixels.begin(), small.pixels.end());
    }
    const run_result pillow_probe =
        run_program("/usr/bin/python3", {"-c", "import PIL"}, {.host_tool = true});
    if (pillow_probe.status == 0) {
        static const char* const script =
            "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
            "sys.stdout.buffer.write(im.ico.frame(int(sys.argv[2])).convert('RGBA').tobytes())";
        for (std::size_t i = 0; i < sides.size(); ++i) {
            const run_result r =
                run_program("/usr/bin/python3", {"-c", script, dir.file("out.ico"), std::to_string(i)},
                            {.host_tool = true});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(r.out == want[i]) << "Pillow, image " << i;
        }
    }
    struct stat st {};
    if (stat("/usr/bin/icotool", &st) == 0) {
        const run_result r = run_program("/usr/bin/icotool", {"-x", "-o", dir.path(), dir.file("out.ico")},
                                         {.host_tool = true});
        EXPECT_EQ(r.status, 0) << r.err;
        for (std::size_t i = 0; i < sides.size(); ++i) {
            const std::string n = std::to_string(sides[i]);
            const std::string name = "out_" + std::to_string(i + 1) + "_" + n + "x" + n + "x";
            std::string found;
            for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
                if (entry.path().filename().string().rfind(name, 0) == 0) found = entry.path().string();
            }
            ASSERT_FALSE(found.empty()) << name;
            const bytes png = read_file(found);
            rgba_image decoded;
            EXPECT_EQ(decode_png(png.data(), png.size(), decoded), image_status::ok);
            EXPECT_TRUE(std::string(decoded.pixels.begin(), decoded.pixels.end()) == want[i])
                << "icotool, image " << i;
        }
    }
}

#ifdef _WIN32

// Made sizes as Windows' own loader takes them (Wine's, where the tests run
// under Wine): for each size the directory lookup picks the image of that
// size, and the image loads as an icon of that size whose pixels, read back
// as 32-bit rows, are the shrink's, PNG and bitmap alike.
TEST(Pack, MadeImagesLoadInWindows) {
    const scratch_dir dir;
    const rgba_image master = master_image(300);
    dir.put("master.png", encoded(master));
    ASSERT_EQ(run_program(pack, {"-o", "out.ico", "--sizes=16,24,32,48,256", "--bitmap=16,24", "master.png"},
                          {.cwd = dir.path()})
                  .status,
              0);
    const bytes icon = read_file(dir.file("out.ico"));
    for (const int side : {16, 24, 32, 48, 256}) {
        SCOPED_TRACE(side);
        const windows_icon shown = load_in_windows(icon, side);
        ASSERT_TRUE(shown.error.empty()) << shown.error;
        EXPECT_EQ(shown.picked_side, side);
        EXPECT_EQ(shown.width, side);
        EXPECT_EQ(shown.height, side);
        rgba_image small;
        ASSERT_EQ(
            shrink_image(master, static_cast<std::uint32_t>(side), static_cast<std::uint32_t>(side), small),
            image_status::ok);
        EXPECT_TRUE(shown.rgba == small.pixels);
    }
}

#endif

}  // namespace
