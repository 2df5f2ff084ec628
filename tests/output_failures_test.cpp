// Both programs writing where writing fails or goes astray: a full device, a
// file-size limit, standard streams that are full, closed or the same file
// as the bundle. (Outputs that cannot be created are tested with the command
// line.) Every failure gives an error line that names what failed and exit
// status 1; the bundle holds only bytes that belong there, and a closed
// stream changes nothing but where its own lines go.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.hpp"

using namespace icon_test;

namespace {

const std::string bundler = ICON_BUNDLER;
const std::string inspector = ICON_INSPECTOR;

// The file-size limit, in bytes; SIGXFSZ is ignored so that a write past it
// fails with EFBIG instead of ending the program.
constexpr rlim_t size_limit = 65536;

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

void close_stdin() { close(0); }
void close_stdout() { close(1); }
void close_stderr() { close(2); }

enum class file_check { none, whole, cut_at_limit };

struct output_case {
    const char* name;
    const std::string& program;
    std::vector<bytes> images;  // of the one input
    const char* output;         // the bundler's; "" for a file in the scratch folder
    void (*in_child)();         // sets the situation up
    bool missing_input;         // a path that cannot be opened follows the input
    int passes;                 // how many of the bundler's passes run
    bool summary;
    bool out_kept;  // standard output reaches its file
    std::string err;
    int status;
    file_check file;
};

const std::string write_directory = "## ERROR: can't write icon directory\n";
const std::string write_icon = "## ERROR: can't write icon\n";
const std::string write_stdout = "## ERROR: can't write standard output\n";
const std::string open_failed = "open failed: No such file or directory\n## ERROR: can't open input file\n";

// Each failure shows at the step whose bytes failed: the output is flushed
// after the directory placeholder, after each image and after the final
// directory.
std::vector<output_case> output_cases() {
    const std::vector<bytes> small = {png_image(100)};
    const std::vector<bytes> large = {png_image(300000), png_image(50)};
    const std::vector<bytes> three = {png_image(40000), png_image(40000), png_image(40000)};
    using enum file_check;
    return {
        {"/dev/full, small input", bundler, small, "/dev/full", nullptr, false, 1, false, true,
         write_directory, 1, none},
        {"/dev/full, large input", bundler, large, "/dev/full", nullptr, false, 1, false, true,
         write_directory, 1, none},
        {"/dev/full, nothing to bundle",
         bundler,
         {},
         "/dev/full",
         nullptr,
         false,
         1,
         false,
         true,
         write_directory,
         1,
         none},
        // 38 bytes, then the first image stops at the limit and the second
        // starts beyond it; the directory itself is written.
        {"size limit inside an image", bundler, large, "", limit_file_size, false, 2, true, true,
         write_icon + write_icon, 1, cut_at_limit},
        // The first image fits, the second is cut at the limit, the third
        // starts beyond it.
        {"size limit between images", bundler, three, "", limit_file_size, false, 2, true, true,
         write_icon + write_icon, 1, cut_at_limit},
        // The bundle is whole, but the listing is lost.
        {"bundler, standard output full", bundler, small, "", stdout_on_full_device, false, 2, true, false,
         write_stdout, 1, whole},
        {"inspector, standard output full", inspector, small, "", stdout_on_full_device, false, 0, false,
         false, write_stdout, 1, none},
        // Bundle and listing in one file would overwrite each other; the
        // file was emptied when the output was created.
        {"output is standard output", bundler, small, "/dev/stdout", nullptr, false, 0, false, false,
         "## ERROR: output file is also standard output\n", 1, none},
        {"output is standard error", bundler, small, "/dev/stderr", nullptr, false, 0, false, true,
         "## ERROR: output file is also standard error\n", 1, none},
        // A closed stream is as good as the null device: no file the program
        // opens takes its place.
        {"bundler, standard input closed", bundler, small, "", close_stdin, true, 2, true, true,
         open_failed + open_failed, 0, whole},
        {"bundler, standard output closed", bundler, small, "", close_stdout, true, 2, true, false,
         open_failed + open_failed, 0, whole},
        {"bundler, standard error closed", bundler, small, "", close_stderr, true, 2, true, true, "", 0,
         whole},
        {"inspector, standard output closed", inspector, small, "", close_stdout, true, 0, false, false, "",
         0, none},
    };
}

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

TEST(OutputFailures, FailingOutputs) {
    // A wrapper such as valgrind needs standard error for itself.
    const bool wrapped = std::getenv("ICON_TEST_WRAPPER") != nullptr;
    for (const output_case& c : output_cases()) {
        SCOPED_TRACE(c.name);
        if (wrapped && c.in_child == close_stderr) continue;
        const scratch_dir dir;
        const bytes input = icon_file(c.images);
        std::vector<std::string> inputs = {dir.put("in.ico", input)};
        if (c.missing_input) inputs.push_back(dir.file("missing.ico"));
        const std::string output = *c.output == '\0' ? dir.file("out.ico") : c.output;
        std::vector<std::string> args = inputs;
        if (&c.program == &bundler) args.insert(args.begin(), {"-o", output});
        const run_result r = run_program(c.program, args, "", c.in_child);

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
        EXPECT_EQ(r.out, c.out_kept ? out : "");
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

}  // namespace
