// The built icon-bundler run on generated inputs: standard output, standard
// error, exit status and the output file checked byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "test_support.hpp"

using namespace icon_test;

namespace {

const std::string bundler = ICON_BUNDLER;

std::string usage(const std::string& message) {
    return "## " + message + "\n## usage: " + bundler + " -o outputfile inputfile(s)\n";
}

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

TEST(BundlerCommandLine, RefusedCommandLinesCreateNothing) {
    struct row {
        std::vector<std::string> args;
        std::string message;
    };
    const row rows[] = {
        {{}, "too few parameters"},
        {{"in.ico"}, "too few parameters"},
        {{"-o", "out.ico"}, "too few parameters"},
        {{"a.ico", "b.ico", "out.ico"}, "no output file specified"},
        {{"a.ico", "out.ico", "-o"}, "no output file specified"},
        {{"-O", "out.ico", "a.ico"}, "no output file specified"},
        {{"--o", "out.ico", "a.ico"}, "no output file specified"},
        {{"-oo", "out.ico", "a.ico"}, "no output file specified"},
        {{"a.ico", "-o ", "out.ico", "b.ico"}, "no output file specified"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.args.size());
        const scratch_dir dir;
        const run_result result = run_program(bundler, r.args, {.cwd = dir.path()});
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, usage(r.message));
        EXPECT_EQ(result.status, 1);
        EXPECT_FALSE(exists(dir.file("out.ico")));
    }
}

TEST(BundlerCommandLine, OptionAndInputsAreFoundWhereverTheyStand) {
    struct row {
        std::vector<std::string> args;
        std::string output;
        std::vector<std::string> inputs;
    };
    const row rows[] = {
        {{"-o", "out.ico", "a.ico"}, "out.ico", {"a.ico"}},
        {{"a.ico", "-o", "out.ico"}, "out.ico", {"a.ico"}},
        {{"a.ico", "-o", "out.ico", "b.ico"}, "out.ico", {"a.ico", "b.ico"}},
        {{"a.ico", "-o", "x.ico", "-o", "y.ico"}, "y.ico", {"a.ico", "-o", "x.ico"}},
        {{"a.ico", "-o", "-o"}, "-o", {"a.ico"}},
        {{"-o", "out.ico", "-O", "a.ico", "--o"}, "out.ico", {"-O", "a.ico", "--o"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.output);
        const scratch_dir dir;
        dir.put("a.ico", icon_file({png_image(50)}));
        const run_result result = run_program(bundler, r.args, {.cwd = dir.path()});
        std::string scan;
        std::string copy;
        std::string errors;
        for (const std::string& input : r.inputs) {
            scan += input + "\n";
            copy += input + "\n";
            if (input == "a.ico") {
                scan += "#   0: PNG (Vista) icon\n";
            } else {
                errors += "open failed: No such file or directory\n## ERROR: can't open input file\n";
            }
        }
        const std::string expected =
            scan + copy + "Bundled 1 icons from " + std::to_string(r.inputs.size()) + " input files.\n\n";
        EXPECT_EQ(result.out, expected);
        EXPECT_EQ(result.err, errors + errors);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(read_file(dir.file(r.output)), bundle_of({image_of(icon_file({png_image(50)}), 0)}));
    }
}

TEST(BundlerCommandLine, OutputThatCannotBeCreated) {
    const scratch_dir dir;
    const std::string input = dir.put("a.ico", icon_file({png_image(50)}));
    struct row {
        std::string output;
        std::string reason;
    };
    const row rows[] = {
        {dir.file("missing/out.ico"), "No such file or directory"},
        {dir.path(), folders_open_as_files ? "Is a directory" : "Permission denied"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.output);
        const run_result result = run_program(bundler, {"-o", r.output, input});
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "open failed: " + r.reason + "\n## ERROR: can't create output file\n");
        EXPECT_EQ(result.status, 1);
    }
}

// Wildcards in the arguments: where no shell expands them, on Windows, the C
// runtime's start-up does, each pattern into its matches in name order; a
// pattern that matches nothing stays as typed, and cannot be opened. On
// POSIX the shell expands them, and the program takes a pattern as a name.
TEST(BundlerCommandLine, WildcardsInTheArguments) {
    const scratch_dir dir;
    const bytes icon = icon_file({png_image(50)});
    for (const char* name : {"b.ico", "a.ico", "c.cur"}) dir.put(name, icon);
    const run_result r =
        run_program(bundler, {"-o", "out.bin", "*.ico", "none*.ico", "?.cur"}, {.cwd = dir.path()});
    const std::vector<std::string> inputs =
        on_windows ? std::vector<std::string>{"a.ico", "b.ico", "none*.ico", "c.cur"}
                   : std::vector<std::string>{"*.ico", "none*.ico", "?.cur"};
    std::string scan;
    std::string copy;
    std::string errors;
    std::size_t bundled = 0;
    for (const std::string& input : inputs) {
        scan += input + "\n";
        copy += input + "\n";
        if (input.find_first_of("*?") == std::string::npos) {
            scan += "#   0: PNG (Vista) icon\n";
            ++bundled;
        } else {
            errors += std::string("open failed: ") +
                      (on_windows ? "Invalid argument" : "No such file or directory") +
                      "\n## ERROR: can't open input file\n";
        }
    }
    EXPECT_EQ(r.out, scan + copy +
                         (bundled == 0 ? "No icons found, wrote empty icon suite\n"
                                       : "Bundled " + std::to_string(bundled) + " icons from " +
                                             std::to_string(inputs.size()) + " input files.\n\n"));
    EXPECT_EQ(r.err, errors + errors);
    EXPECT_EQ(r.status, 0);
}

struct bundle_case {
    const char* name;
    std::vector<bytes> inputs;         // written as in0.ico, in1.ico, ...
    std::vector<std::string> listing;  // per input, the scan pass's lines after its echo
    std::string err;
    std::vector<placed> images;
    int status = 0;
};

std::vector<bundle_case> bundle_cases() {
    const bytes mixed = icon_file({sized_bitmap(16, 32, 4), png_image(120), sized_bitmap(32, 64, 32)});
    const bytes depths =
        icon_file({sized_bitmap(16, 32, 1), sized_bitmap(16, 32, 4), sized_bitmap(16, 32, 8),
                   sized_bitmap(16, 32, 16), sized_bitmap(16, 32, 24), sized_bitmap(16, 32, 32)});
    // Rejected between good ones: depth 2, width 257, height 514, odd height,
    // a wrong size, depth 0.
    const bytes rejects = icon_file({sized_bitmap(16, 32, 4), sized_bitmap(16, 32, 2),
                                     sized_bitmap(257, 32, 32), sized_bitmap(16, 514, 32),
                                     bitmap_image(16, 33, 4, 296), patched(sized_bitmap(16, 32, 4), 0, 40),
                                     bitmap_image(16, 32, 0, 108), sized_bitmap(256, 512, 32)});
    const bytes rejects_sized = patched(rejects, entry_at(5) + 8, 300);
    const bytes short_png =
        patched(icon_file({sized_bitmap(16, 32, 1), png_image(60)}), entry_at(1) + 8, 100);
    // Four entries claimed, the file ending 9 bytes into the fourth. The first
    // three name one PNG image that overlaps entries 1 and 2 (whose first
    // bytes are its signature), so there is something to take before the cut.
    bytes cut_directory = icon_file({});
    cut_directory = patched(cut_directory, 4, 4, 2);
    const bytes plain = {16, 16, 0, 0, 1, 0, 32, 0};
    const bytes signature = {0x89, 0x50, 0x4E, 0x47, 1, 0, 32, 0};
    for (const bytes* start : {&plain, &signature, &signature}) {
        cut_directory.insert(cut_directory.end(), start->begin(), start->end());
        put_u32(cut_directory, 40);
        put_u32(cut_directory, 22);
    }
    cut_directory.resize(cut_directory.size() + 9, 0);
    const bytes negative_offset =
        patched(icon_file({png_image(60), png_image(60)}), entry_at(1) + 12, 0x80000000u);
    const bytes far_offset = patched(icon_file({png_image(60), png_image(60)}), entry_at(1) + 12, 1000000);
    const bytes cursor = icon_file({png_image(44)}, 2);
    const std::string invalid = "## ERROR: invalid BITMAPINFOHEADER; skipping icon\n";

    return {
        {"mixed",
         {mixed},
         {"#   0:   16 x  16,  4 bits/pixel\n#   1: PNG (Vista) icon\n#   2:   32 x  32, 32 bits/pixel\n"},
         "",
         {image_of(mixed, 0), image_of(mixed, 1), image_of(mixed, 2)}},
        {"bit depths",
         {depths},
         {"#   0:   16 x  16,  1 bit/pixel\n#   1:   16 x  16,  4 bits/pixel\n#   2:   16 x  16,  8 "
          "bits/pixel\n"
          "#   3:   16 x  16, 16 bits/pixel\n#   4:   16 x  16, 24 bits/pixel\n#   5:   16 x  16, 32 "
          "bits/pixel\n"},
         "",
         {image_of(depths, 0), image_of(depths, 1), image_of(depths, 2), image_of(depths, 3),
          image_of(depths, 4), image_of(depths, 5)}},
        {"rejected images in the middle",
         {rejects_sized},
         {"#   0:   16 x  16,  4 bits/pixel\n#   7:  256 x 256, 32 bits/pixel\n"},
         invalid + invalid + invalid + invalid + invalid + invalid,
         {image_of(rejects_sized, 0), image_of(rejects_sized, 7)}},
        {"input twice and a cursor",
         {mixed, cursor, mixed},
         {"#   0:   16 x  16,  4 bits/pixel\n#   1: PNG (Vista) icon\n#   2:   32 x  32, 32 bits/pixel\n",
          "#   0: PNG (Vista) icon\n",
          "#   0:   16 x  16,  4 bits/pixel\n#   1: PNG (Vista) icon\n#   2:   32 x  32, 32 bits/pixel\n"},
         "",
         {image_of(mixed, 0), image_of(mixed, 1), image_of(mixed, 2), image_of(cursor, 0), image_of(mixed, 0),
          image_of(mixed, 1), image_of(mixed, 2)}},
        {"PNG running past the end",
         {short_png},
         {"#   0:   16 x  16,  1 bit/pixel\n#   1: PNG (Vista) icon\n"},
         "## ERROR: can't read icon\n",
         {image_of(short_png, 0), image_of(short_png, 1)},
         1},
        {"directory cut short",
         {cut_directory},
         {"#   0: PNG (Vista) icon\n#   1: PNG (Vista) icon\n#   2: PNG (Vista) icon\n"},
         "## ERROR: can't read ICONDIRENTRY; skipping file\n",
         {image_of(cut_directory, 0), image_of(cut_directory, 1), image_of(cut_directory, 2)}},
        {"negative offset",
         {negative_offset},
         {"#   0: PNG (Vista) icon\n"},
         "## ERROR: can't read ICONDIRENTRY; skipping file\n",
         {image_of(negative_offset, 0)}},
        {"offset past the end",
         {far_offset},
         {"#   0: PNG (Vista) icon\n"},
         "## ERROR: can't read BITMAPINFOHEADER; skipping file\n",
         {image_of(far_offset, 0)}},
        {"nothing usable",
         {{}, {1, 2, 3}, icon_file({}), icon_file({sized_bitmap(16, 32, 2)})},
         {"", "", "", ""},
         "## ERROR: can't read ICONDIR\n## ERROR: can't read ICONDIR\n" + invalid,
         {}},
    };
}

std::string run_listing(const bundle_case& c, const std::vector<std::string>& paths) {
    std::string out;
    for (std::size_t i = 0; i < paths.size(); ++i) out += paths[i] + "\n" + c.listing[i];
    for (const std::string& path : paths) out += path + "\n";
    if (c.images.empty()) return out + "No icons found, wrote empty icon suite\n";
    return out + "Bundled " + std::to_string(c.images.size()) + " icons from " +
           std::to_string(paths.size()) + " input files.\n\n";
}

TEST(Bundler, GeneratedInputs) {
    for (const bundle_case& c : bundle_cases()) {
        SCOPED_TRACE(c.name);
        const scratch_dir dir;
        std::vector<std::string> args = {"-o", dir.file("out.ico")};
        std::vector<std::string> paths;
        for (std::size_t i = 0; i < c.inputs.size(); ++i)
            paths.push_back(dir.put("in" + std::to_string(i) + ".ico", c.inputs[i]));
        args.insert(args.end(), paths.begin(), paths.end());
        const run_result r = run_program(bundler, args);
        EXPECT_EQ(r.out, run_listing(c, paths));
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(read_file(dir.file("out.ico")), bundle_of(c.images));
    }
}

// An existing output that is one of the inputs, by its name or through a
// link, is refused before it is opened: the icon that was to gain images
// keeps them. Any other existing output is replaced.
TEST(Bundler, OutputThatNamesAnInput) {
    const bytes good = icon_file({png_image(64)});
    const bytes earlier = icon_file({png_image(50), png_image(70)});
    enum class naming { itself, hard_link, symbolic_link, other_file };
    for (const naming how : {naming::itself, naming::hard_link, naming::symbolic_link, naming::other_file}) {
        SCOPED_TRACE(static_cast<int>(how));
        if (how == naming::symbolic_link && on_windows) continue;  // links need privileges there
        const scratch_dir dir;
        const std::string in = dir.put("in.ico", good);
        const std::string out = dir.put("out.ico", earlier);
        const std::string missing = dir.file("missing.ico");
        std::string named = out;
        if (how == naming::hard_link) std::filesystem::create_hard_link(out, named = dir.file("link.ico"));
        if (how == naming::symbolic_link) std::filesystem::create_symlink(out, named = dir.file("link.ico"));
        if (how == naming::other_file) named = in;
        const run_result r = run_program(bundler, {named, missing, "-o", out, in});
        if (how != naming::other_file) {
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "## ERROR: output file is also an input file\n");
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(read_file(out), earlier);
            continue;
        }
        EXPECT_EQ(r.out, in + "\n#   0: PNG (Vista) icon\n" + missing + "\n" + in +
                             "\n#   0: PNG (Vista) icon\n" + in + "\n" + missing + "\n" + in +
                             "\nBundled 2 icons from 3 input files.\n\n");
        const std::string open_failed =
            "open failed: No such file or directory\n## ERROR: can't open input file\n";
        EXPECT_EQ(r.err, open_failed + open_failed);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(read_file(out), bundle_of({image_of(good, 0), image_of(good, 0)}));
    }
}

// An input that changes between the passes: unless the copy pass accepts
// exactly the images the scan pass listed, the run fails with one error line
// after the copy pass. The directory keeps the scan count: places the copy
// pass did not fill stay zero, and no image goes beyond it.
#ifdef ICON_REOPEN_SHIM
void preload_reopen_shim() {
    setenv("LD_PRELOAD", ICON_REOPEN_SHIM, 1);
    // The sanitizer runtime would insist on being loaded first.
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":verify_asan_link_order=0").c_str(), 1);
}
#endif

TEST(Bundler, InputsThatChangeBetweenThePasses) {
#ifndef ICON_REOPEN_SHIM
    GTEST_SKIP() << "changing an input between the passes needs LD_PRELOAD";
#else
    const bytes a = icon_file({sized_bitmap(16, 32, 4), png_image(120)});
    const bytes b = icon_file({png_image(60)});
    const bytes a_cut(a.begin(), a.begin() + 30);  // entry 1 cut, image 0 gone
    const bytes a_replaced = icon_file({sized_bitmap(16, 32, 4), png_image(100)});
    const bytes a_grown = icon_file({sized_bitmap(16, 32, 4), png_image(120), png_image(50)});
    // The same directory, but the bitmap became a PNG image of its size.
    const bytes a_reheadered = icon_file({png_image(296), png_image(120)});
    struct row {
        const char* name;
        std::optional<bytes> then;  // a as the copy pass finds it; none when gone
        std::vector<placed> copied;
        bool changed;
    };
    const row rows[] = {
        {"an identical copy", a, {image_of(a, 0), image_of(a, 1), image_of(b, 0)}, false},
        {"cut", a_cut, {image_of(b, 0)}, true},
        {"gone", std::nullopt, {image_of(b, 0)}, true},
        {"replaced", a_replaced, {image_of(a_replaced, 0), image_of(a_replaced, 1), image_of(b, 0)}, true},
        {"same directory, other image header",
         a_reheadered,
         {image_of(a_reheadered, 0), image_of(a_reheadered, 1), image_of(b, 0)},
         true},
        {"grown", a_grown, {image_of(a_grown, 0), image_of(a_grown, 1), image_of(a_grown, 2)}, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const scratch_dir dir;
        const std::string in_a = dir.put("a.ico", a);
        const std::string in_b = dir.put("b.ico", b);
        dir.put(r.then ? "a.ico.then" : "a.ico.gone", r.then.value_or(bytes{}));
        const run_result result =
            run_program(bundler, {"-o", dir.file("out.ico"), in_a, in_b}, {.in_child = preload_reopen_shim});
        EXPECT_EQ(result.out, in_a + "\n#   0:   16 x  16,  4 bits/pixel\n#   1: PNG (Vista) icon\n" + in_b +
                                  "\n#   0: PNG (Vista) icon\n" + in_a + "\n" + in_b +
                                  "\nBundled 3 icons from 2 input files.\n\n");
        EXPECT_EQ(
            result.err,
            std::string(
                r.then ? "" : "open failed: No such file or directory\n## ERROR: can't open input file\n") +
                (r.changed ? "## ERROR: input files changed during bundling\n" : ""));
        EXPECT_EQ(result.status, r.changed ? 1 : 0);
        EXPECT_EQ(read_file(dir.file("out.ico")), bundle_of(r.copied, 3));
    }
#endif
}

// Images whose sizes would push an offset past 2^31 - 1 are refused in the
// scan pass and skipped alike in the copy pass. The output goes to the null
// device: the slots are far too large to keep, and the short inputs are
// padded. The first image claims 2 GB of a 40-byte file, which must not cost
// 2 GB of memory: on POSIX the run has 64 MiB of address space (not under a
// sanitizer, a wrapper or an emulator, which need more for themselves).
std::function<void()> address_space_limit() {
#ifdef _WIN32
    return {};
#else
    if (ICON_SANITIZED || std::getenv("ICON_TEST_WRAPPER") != nullptr || programs_run_emulated()) return {};
    return [] {
        constexpr rlim_t bytes = rlim_t{64} << 20;
        const rlimit limit{bytes, bytes};
        setrlimit(RLIMIT_AS, &limit);
    };
#endif
}

TEST(Bundler, SizesOutOfRangeAreRefused) {
    const scratch_dir dir;
    bytes file = icon_file({png_image(40), png_image(40), png_image(40), png_image(40)});
    file = patched(file, entry_at(0) + 8, 2146435081u - 100);
    file = patched(file, entry_at(1) + 8, 101);
    file = patched(file, entry_at(2) + 8, 0xFFFFFFFFu);
    file = patched(file, entry_at(3) + 8, 100);
    const std::string in = dir.put("in.ico", file);
    const run_result r = run_program(bundler, {"-o", null_device, in}, {.in_child = address_space_limit()});
    EXPECT_EQ(r.out, in + "\n#   0: PNG (Vista) icon\n#   3: PNG (Vista) icon\n" + in +
                         "\nBundled 2 icons from 1 input files.\n\n");
    EXPECT_EQ(
        r.err,
        "## ERROR: image size out of range; skipping icon\n## ERROR: image size out of range; skipping icon\n"
        "## ERROR: can't read icon\n## ERROR: can't read icon\n");
    EXPECT_EQ(r.status, 1);
}

// A claim beyond the unmeasured limit costs no more memory than the input
// holds: where the input's length cannot be measured, it is copied through
// a fixed block; an input over 4 GiB is measured in 64 bits on every host.
TEST(Bundler, LargeClaimsCostWhatTheInputHolds) {
    struct row {
        const char* name;
        std::uint64_t length;  // of the input file, at least its icon's bytes
        std::uint32_t claim;   // the PNG image's dwBytesInRes
        bool unmeasured;       // its length cannot be measured
        std::string err;
        int status;
    };
    const row rows[] = {
        {"length that cannot be measured", 100, 2000000000, true, "## ERROR: can't read icon\n", 1},
        {"input over 4 GiB", (std::uint64_t{1} << 32) + 50, 2 << 20, false, "", 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        std::function<void()> start = address_space_limit();
        if (r.unmeasured) {
#ifndef ICON_REOPEN_SHIM
            continue;
#else
            start = [limit = start] {
                preload_reopen_shim();
                if (limit) limit();
            };
#endif
        }
        const scratch_dir dir;
        const std::string in =
            dir.put("in.ico", patched(icon_file({png_image(40)}), entry_at(0) + 8, r.claim));
        std::filesystem::resize_file(in, r.length);
        if (r.unmeasured) write_file(in + ".unmeasured", "");
        const run_result result = run_program(bundler, {"-o", null_device, in}, {.in_child = start});
        EXPECT_EQ(result.out,
                  in + "\n#   0: PNG (Vista) icon\n" + in + "\nBundled 1 icons from 1 input files.\n\n");
        EXPECT_EQ(result.err, r.err);
        EXPECT_EQ(result.status, r.status);
    }
}

TEST(Bundler, AtMost65535Icons) {
    const scratch_dir dir;
    // 65535 entries that all name one PNG image behind the directory.
    bytes many = icon_file({});
    many = patched(many, 2, 0xFFFF0001u);  // idType 1, idCount 65535
    const std::size_t image_at = entry_at(65535);
    for (std::size_t i = 0; i < 65535; ++i) {
        many.insert(many.end(), {16, 16, 0, 0, 1, 0, 32, 0});
        put_u32(many, 40);
        put_u32(many, static_cast<std::uint32_t>(image_at));
    }
    const bytes png = png_image(40);
    many.insert(many.end(), png.begin(), png.end());
    const std::string big = dir.put("many.ico", many);
    const std::string one = dir.put("one.ico", icon_file({png_image(40)}));
    const run_result r = run_program(bundler, {"-o", dir.file("out.ico"), big, one});
    EXPECT_EQ(r.err, "## ERROR: more than 65535 icons; skipping icon\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("#65534: PNG (Vista) icon\n" + one + "\n" + big), std::string::npos);
    const bytes out = read_file(dir.file("out.ico"));
    ASSERT_EQ(out.size(), 6 + 65535 * (16 + 40));
    EXPECT_EQ(u32_at(out, 2), 0xFFFF0001u);
    EXPECT_EQ(u32_at(out, entry_at(65534) + 12), 6 + 16 * 65535 + 40 * 65534);
}

}  // namespace

namespace {

// A real 2 x 2 RGBA PNG stream, so a peer reader can decode the bundle whole.
const bytes tiny_png = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49,
                        0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x06,
                        0x00, 0x00, 0x00, 0x72, 0xB6, 0x0D, 0x24, 0x00, 0x00, 0x00, 0x14, 0x49, 0x44,
                        0x41, 0x54, 0x78, 0x9C, 0x63, 0xFC, 0xCF, 0xC0, 0xD0, 0xC0, 0xC0, 0xC0, 0xC0,
                        0xC0, 0xC4, 0x00, 0x05, 0x00, 0x18, 0x25, 0x01, 0x83, 0x46, 0x88, 0x95, 0x27,
                        0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

// icoutils' icotool, an independent reader, lists and extracts every image
// of a bundle.
TEST(Bundler, BundleReadsBackInAPeer) {
    if (on_windows) GTEST_SKIP() << "a Windows test cannot wait for a program of the host, such as icotool";
    const std::string icotool = "/usr/bin/icotool";
    if (!exists(icotool)) GTEST_SKIP() << "icotool (icoutils) is not installed";
    const scratch_dir dir;
    const std::string a =
        dir.put("a.ico", icon_file({sized_bitmap(16, 32, 1), sized_bitmap(16, 32, 4), tiny_png}));
    const std::string b = dir.put(
        "b.ico", icon_file({sized_bitmap(32, 64, 8), sized_bitmap(48, 96, 24), sized_bitmap(64, 128, 32)}));
    ASSERT_EQ(run_program(bundler, {"-o", dir.file("out.ico"), a, b}).status, 0);

    const run_result list = run_program(icotool, {"-l", dir.file("out.ico")}, {.host_tool = true});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.err, "");
    std::size_t lines = 0;
    for (char c : list.out) lines += c == '\n';
    EXPECT_EQ(lines, 6u) << list.out;

    const run_result extract =
        run_program(icotool, {"-x", "-o", dir.path(), dir.file("out.ico")}, {.host_tool = true});
    EXPECT_EQ(extract.status, 0) << extract.err;
}

}  // namespace
