// Both programs writing where writing fails or goes astray: a full device, a
// file-size limit, standard streams that are full, closed or the same file
// as the bundle. (Outputs that cannot be created are tested with the command
// line.) Every failure gives an error line that names what failed and exit
// status 1; the bundle holds only bytes that belong there, and a closed
// stream changes nothing but where its own lines go.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.hpp"

using namespace icon_test;

namespace {

const std::string bundler = ICON_BUNDLER;
const std::string inspector = ICON_INSPECTOR;

// The file-size limit, in bytes.
constexpr std::size_t size_limit = 65536;

enum class file_check { none, whole, cut_at_limit };

struct output_case {
    const char* name;
    const std::string& program;
    std::vector<bytes> images;  // of the one input
    const char* output;         // the bundler's; "" for out.ico in the scratch folder
    // Sets the situation up; an out_file or err_file is named in the
    // scratch folder.
    run_options start;
    bool missing_input;  // a path that cannot be opened follows the input
    int passes;          // how many of the bundler's passes run
    bool summary;
    bool out_kept;  // standard output reaches its file
    std::string err;
    int status;
    file_check file;
    // What out.ico holds before the run, when it is there already: one
    // line, which a standard stream that goes to it finds ahead of its own.
    std::string before = {};
    // Not under a wrapper or an emulator, which open files of their own.
    bool unwrapped_only = false;
};

const std::string write_directory = "## ERROR: can't write icon directory\n";
const std::string write_icon = "## ERROR: can't write icon\n";
const std::string write_stdout = "## ERROR: can't write standard output\n";
const std::string open_failed = "open failed: No such file or directory\n## ERROR: can't open input file\n";
const std::string too_many = "open failed: Too many open files\n## ERROR: can't open input file\n";

const std::vector<bytes> small = {png_image(100)};
// Its first image alone is larger than the file-size limit.
const std::vector<bytes> large = {png_image(300000), png_image(50)};

// How a case's program starts.
const run_options as_is{};
run_options closing(int stream) { return {.closed = stream}; }
run_options stdout_to(const char* name) { return {.out_file = name}; }
run_options stderr_to(const char* name) { return {.err_file = name}; }
run_options stdout_appends_to(const char* name) { return {.out_file = name, .append = true}; }
run_options stderr_appends_to(const char* name) { return {.err_file = name, .append = true}; }

// Closed standard streams, and an output that is the file a standard stream
// goes to, on every platform.
std::vector<output_case> output_cases() {
    using enum file_check;
    return {
        // Bundle and listing in one file would overwrite each other; the
        // file was emptied by the redirection, not by the program.
        {"output is the file standard output goes to", bundler, small, "", stdout_to("out.ico"), false, 0,
         false, false, "## ERROR: output file is also standard output\n", 1, none},
        {"output is the file standard error goes to", bundler, small, "", stderr_to("out.ico"), false, 0,
         false, true, "## ERROR: output file is also standard error\n", 1, none},
        // A log that a standard stream appends to (`>> build.log`) is
        // refused before the output is opened, and so is not emptied.
        {"output is the log standard output appends to", bundler, small, "", stdout_appends_to("out.ico"),
         false, 0, false, false, "## ERROR: output file is also standard output\n", 1, none,
         "earlier lines\n"},
        {"output is the log standard error appends to", bundler, small, "", stderr_appends_to("out.ico"),
         false, 0, false, true, "earlier lines\n## ERROR: output file is also standard error\n", 1, none,
         "earlier lines\n"},
        // A closed stream is as good as the null device: no file the program
        // opens takes its place.
        {"bundler, standard input closed", bundler, small, "", closing(0), true, 2, true, true,
         open_failed + open_failed, 0, whole},
        {"bundler, standard output closed", bundler, small, "", closing(1), true, 2, true, false,
         open_failed + open_failed, 0, whole},
        {"bundler, standard error closed", bundler, small, "", closing(2), true, 2, true, true, "", 0, whole},
        {"inspector, standard output closed", inspector, small, "", closing(1), true, 0, false, false, "", 0,
         none},
    };
}

// An output on the full device fails at the first flush, after the
// directory placeholder; the close reports nothing more.
std::vector<output_case> full_device_cases() {
    const std::vector<bytes> none_at_all;
    using enum file_check;
    return {
        {"/dev/full, small input", bundler, small, "/dev/full", as_is, false, 1, false, true, write_directory,
         1, none},
        {"/dev/full, large input", bundler, large, "/dev/full", as_is, false, 1, false, true, write_directory,
         1, none},
        {"/dev/full, nothing to bundle", bundler, none_at_all, "/dev/full", as_is, false, 1, false, true,
         write_directory, 1, none},
    };
}

#ifndef _WIN32

// SIGXFSZ is ignored so that a write past the limit fails with EFBIG instead
// of ending the program.
void limit_file_size() {
    const rlimit limit{size_limit, size_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_IGN);
}

void stdout_on_full_device() {
    const int full = open("/dev/full", O_WRONLY);
    dup2(full, 1);
    close(full);
}

// Descriptors 0 to 3 (the output) are all the program may have, so no
// input can be opened.
void limit_descriptors() {
    for (int fd = 3; fd < 64; ++fd) close(fd);
    const rlimit limit{4, 4};
    setrlimit(RLIMIT_NOFILE, &limit);
}

run_options in_child(void (*hook)()) { return {.in_child = hook}; }

// File-size limits, a full standard output and the /dev/std* names:
// POSIX's alone. Each failure shows at the step whose bytes failed: the
// output is flushed after the directory placeholder, after each image and
// after the final directory.
std::vector<output_case> posix_output_cases() {
    const std::vector<bytes> three = {png_image(40000), png_image(40000), png_image(40000)};
    using enum file_check;
    return {
        // 38 bytes, then the first image stops at the limit and the second
        // starts beyond it; the directory itself is written.
        {"size limit inside an image", bundler, large, "", in_child(limit_file_size), false, 2, true, true,
         write_icon + write_icon, 1, cut_at_limit},
        // The first image fits, the second is cut at the limit, the third
        // starts beyond it.
        {"size limit between images", bundler, three, "", in_child(limit_file_size), false, 2, true, true,
         write_icon + write_icon, 1, cut_at_limit},
        // The bundle is whole, but the listing is lost.
        {"bundler, standard output full", bundler, small, "", in_child(stdout_on_full_device), false, 2, true,
         false, write_stdout, 1, whole},
        {"inspector, standard output full", inspector, small, "", in_child(stdout_on_full_device), false, 0,
         false, false, write_stdout, 1, none},
        // Running out of descriptors says nothing about the inputs: the
        // empty icon is written, but the run fails.
        {"no descriptor left for an input",
         bundler,
         {},
         "",
         in_child(limit_descriptors),
         false,
         2,
         true,
         true,
         too_many + too_many,
         1,
         whole,
         "",
         true},
        // Bundle and listing in one file would overwrite each other.
        {"output is standard output", bundler, small, "/dev/stdout", as_is, false, 0, false, false,
         "## ERROR: output file is also standard output\n", 1, none},
        {"output is standard error", bundler, small, "/dev/stderr", as_is, false, 0, false, true,
         "## ERROR: output file is also standard error\n", 1, none},
    };
}

#endif

// What the inspector lists for an input of PNG images.
std::string inspected(const std::vector<bytes>& images) {
    std::string lines;
    std::size_t offset = entry_at(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "ICONDIRENTRY[%2zu] @%7zu : PNG (Vista) format icon\n", i, offset);
        lines += line;
        offset += images[i].size();
    }
    return lines;
}

std::string listed_pngs(std::size_t count) {
    std::string lines;
    for (std::size_t i = 0; i < count; ++i) lines += "#   " + std::to_string(i) + ": PNG (Vista) icon\n";
    return lines;
}

void check_outputs(const std::vector<output_case>& cases) {
    // A wrapper such as valgrind needs standard error for itself.
    const bool wrapped = std::getenv("ICON_TEST_WRAPPER") != nullptr;
    for (const output_case& c : cases) {
        SCOPED_TRACE(c.name);
        if (wrapped && c.start.closed == 2) continue;
        if (c.unwrapped_only && (wrapped || programs_run_emulated())) continue;
        const scratch_dir dir;
        const bytes input = icon_file(c.images);
        if (!c.before.empty()) {
            // Written as the programs' text is: with CR LF on Windows.
            std::string text = c.before;
            if (on_windows) text.insert(text.size() - 1, "\r");
            write_file(dir.file("out.ico"), text);
        }
        std::vector<std::string> inputs = {dir.put("in.ico", input)};
        if (c.missing_input) inputs.push_back(dir.file("missing.ico"));
        const std::string output = *c.output == '\0' ? dir.file("out.ico") : c.output;
        std::vector<std::string> args = inputs;
        if (&c.program == &bundler) args.insert(args.begin(), {"-o", output});
        run_options start = c.start;
        for (std::string* name : {&start.out_file, &start.err_file})
            if (!name->empty()) *name = dir.file(*name);
        const run_result r = run_program(c.program, args, start);

        std::string out;
        if (&c.program == &inspector) {
            out = inputs[0] + "\n" + inspected(c.images);
        } else {
            if (c.passes > 0) out = inputs[0] + "\n" + listed_pngs(c.images.size());
            for (std::size_t i = 1; i < inputs.size() && c.passes > 0; ++i) out += inputs[i] + "\n";
            if (c.passes > 1)
                for (const std::string& path : inputs) out += path + "\n";
            if (c.summary)
                out += c.images.empty() ? "No icons found, wrote empty icon suite\n"
                                        : "Bundled " + std::to_string(c.images.size()) + " icons from " +
                                              std::to_string(inputs.size()) + " input files.\n\n";
        }
        EXPECT_EQ(r.out, (start.out_file.empty() ? "" : c.before) + (c.out_kept ? out : ""));
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, c.status);

        std::vector<placed> images;
        for (std::size_t i = 0; i < c.images.size(); ++i) images.push_back(image_of(input, i));
        bytes expected = bundle_of(images);
        if (c.file == file_check::cut_at_limit) expected.resize(size_limit);
        if (c.file != file_check::none) {
            EXPECT_EQ(read_file(output), expected);
        }
    }
}

TEST(OutputFailures, FailingOutputs) { check_outputs(output_cases()); }

TEST(OutputFailures, FullDevice) {
    if (on_windows && !under_wine()) GTEST_SKIP() << "Windows has no full device";
    check_outputs(full_device_cases());
}

TEST(OutputFailures, PosixDevicesAndLimits) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no file-size limit, no /dev/stdout and no full device";
#else
    check_outputs(posix_output_cases());
#endif
}

}  // namespace
