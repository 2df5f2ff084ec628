// icon-bundler writing to outputs that fail part-way: a full device and a
// file-size limit. (Outputs that cannot be created are tested with the
// command line.) Every run ends with status 1 and error lines that name what
// failed; the output file holds only bytes that belong there.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <string>
#include <vector>

#include "test_support.hpp"

using namespace icon_test;

namespace {

const std::string bundler = ICON_BUNDLER;

// The file-size limit, in bytes; SIGXFSZ is ignored so that a write past it
// fails with EFBIG instead of ending the program.
constexpr rlim_t size_limit = 65536;

void limit_file_size() {
    const rlimit limit{size_limit, size_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_IGN);
}

struct output_case {
    const char* name;
    std::vector<bytes> images;  // of the one input
    const char* output;         // "" for a file in the scratch folder
    bool limited;
    std::string listing;  // after the first echo of the input
    bool summary;
    std::string err;
};

const std::string seek_output = "## ERROR: can't seek to output position\n";
const std::string seek_directory = "## ERROR: can't seek to write first dir entry\n";
const std::string write_icon = "## ERROR: can't write icon\n";

std::string listed_pngs(std::size_t count) {
    std::string lines;
    for (std::size_t i = 0; i < count; ++i) lines += "#   " + std::to_string(i) + ": PNG (Vista) icon\n";
    return lines;
}

// With standard buffering (4096 bytes) the output's first failure shows at
// the first seek that has to write out buffered bytes, or at a write larger
// than the buffer, or at the close.
std::vector<output_case> output_cases() {
    const std::vector<bytes> small = {png_image(100)};
    const std::vector<bytes> large = {png_image(300000), png_image(50)};
    const std::vector<bytes> three = {png_image(40000), png_image(40000), png_image(40000)};
    return {
        // The 38 bytes of header and directory fail at the seek to the image;
        // the final entries stay buffered until the close.
        {"/dev/full, small input", small, "/dev/full", false, listed_pngs(1), true,
         seek_output + "## ERROR: can't close output file\n"},
        {"/dev/full, large input", large, "/dev/full", false, listed_pngs(2), false,
         seek_output + seek_directory},
        {"/dev/full, nothing to bundle", {}, "/dev/full", false, "", false, seek_directory},
        // 38 bytes, then the first image stops at the limit; the second is
        // buffered beyond it and fails at the seek back to the directory.
        {"size limit inside an image", large, "", true, listed_pngs(2), false, write_icon + seek_directory},
        // The first image fits, the second is cut at the limit, the third
        // starts beyond it; the directory itself is written.
        {"size limit between images", three, "", true, listed_pngs(3), true, write_icon + write_icon},
    };
}

TEST(OutputFailures, FailingOutputs) {
    for (const output_case& c : output_cases()) {
        SCOPED_TRACE(c.name);
        const scratch_dir dir;
        const bytes input = icon_file(c.images);
        const std::string in = dir.put("in.ico", input);
        const std::string output = *c.output == '\0' ? dir.file("out.ico") : c.output;
        const run_result r = run_program(bundler, {"-o", output, in}, "",
                                         c.limited ? limit_file_size : std::function<void()>{});
        const std::string summary = c.images.empty() ? "No icons found, wrote empty icon suite\n"
                                                     : "Bundled " + std::to_string(c.images.size()) +
                                                           " icons from 1 input files.\n\n";
        EXPECT_EQ(r.out, in + "\n" + c.listing + in + "\n" + (c.summary ? summary : ""));
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, 1);
        if (c.limited) {
            // What reached the file is the bundle's own first bytes.
            std::vector<placed> images;
            for (std::size_t i = 0; i < c.images.size(); ++i) images.push_back(image_of(input, i));
            bytes expected = bundle_of(images);
            if (!c.summary)
                std::fill(expected.begin() + 6, expected.begin() + 6 + 16 * static_cast<long>(images.size()),
                          0);
            expected.resize(size_limit);
            EXPECT_EQ(read_file(output), expected);
        }
    }
}

}  // namespace
