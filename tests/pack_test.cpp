// The built icon-pack run on generated PNG, icon and cursor files: standard
// output, standard error, exit status and the icon written, byte for byte
// against one built here from the images; every icon written must pass the
// image checks with no error.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "file_checks.hpp"
#include "test_support.hpp"

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
};

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
        "note: corrected: bColorCount is 0, the image has 16 (0 for 256 or more, or none) [pack-corrected]\n";
    const std::string depth_4 =
        "note: corrected: wBitCount is 32, the image has 4 bits a pixel [pack-corrected]\n";
    const std::string a_notes = "a.ico: image 0: " + colours_16 + "a.ico: image 0: " + depth_4;
    const std::string b_notes = "b.ico: image 0: " + colours_16 + "b.ico: image 0: " + depth_4;
    const std::string not_written =
        "out.ico: error: not written, since the inputs have errors [pack-not-written]\n";
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
         "48rgb.png: warning: the PNG image has colour type 2 at 8 bits a sample, not 8-bit RGBA (colour "
         "type 6) "
         "[png-not-rgba]\n",
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
         "lying.ico: image 0: note: corrected: the directory says 32 x 16, the bitmap header 16 x 16 "
         "[pack-corrected]\n"
         "lying.ico: image 0: note: corrected: dwBytesInRes is 300, the image header implies 296 bytes "
         "[pack-corrected]\n"
         "lying.ico: image 0: note: corrected: bColorCount is 0, the image has 16 (0 for 256 or more, or "
         "none) "
         "[pack-corrected]\n"
         "lying.ico: image 0: note: corrected: wBitCount is 32, the image has 4 bits a pixel "
         "[pack-corrected]\n"
         "lying.ico: image 1: note: corrected: the directory says 16 x 16, the PNG image is 32 x 32 "
         "[pack-corrected]\n"
         "lying.ico: image 1: note: corrected: dwBytesInRes is 63, the image stream spans 73 bytes "
         "[pack-corrected]\n"
         "lying.ico: image 1: note: corrected: wBitCount is 8, the image has 32 bits a pixel "
         "[pack-corrected]\n",
         packed({{p32, 32, 32, 1, 32}, {b16, 16, 16, 1, 4, 16}})},
        {"a broken PNG refuses the run",
         {{"16.png", p16}, {"broken.png", broken}, {"out.ico", old}},
         {},
         "",
         "broken.png: error: the IEND chunk at byte 61 has CRC 78563412, its bytes give AE426082 [png-crc]\n"
         "out.ico: image 0: note: skipped: 16 x 16, 32 bits/pixel already given by 16.png "
         "[pack-duplicate]\n" +
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
         "notes.txt: error: not a PNG, icon or cursor file [pack-input]\n"
         "photo.bmp: error: a BMP file can't be packed as it is; convert it to PNG [pack-bmp]\n"
         "big.png: error: the PNG image is 512 x 512 pixels; an icon image has 1 to 256 on each side "
         "[png-dimensions]\n" +
             not_written,
         {}},
    };
}

TEST(Pack, GeneratedInputs) {
    for (const pack_case& c : pack_cases()) {
        SCOPED_TRACE(c.name);
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
    EXPECT_EQ(run_program(pack, {"--version"}).out, "icon-pack (icon-tools) 1.0.0\n");
}

// The output replaced whole: its permission bits kept, no temporary file
// left beside it, and an output that is standard output refused.
TEST(Pack, OutputReplaced) {
    const scratch_dir dir;
    const std::string out = dir.put("out.ico", {1, 2, 3});
    const std::string in = dir.put("a.png", png_stream(16, 16));
    if (!on_windows) chmod(out.c_str(), 0640);
    const run_result r = run_program(pack, {"-o", out, in}, {.out_file = out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, out + ": error: can't be the output: it is also standard output [pack-output]\n");
    EXPECT_EQ(run_program(pack, {"-o", out, in}).status, 0);
    EXPECT_EQ(read_file(out), packed({{png_stream(16, 16), 16, 16, 1, 32}}));
    struct stat st {};
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    if (!on_windows) {
        EXPECT_EQ(st.st_mode & 0777, 0640u);
    }
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 2u);
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

}  // namespace
