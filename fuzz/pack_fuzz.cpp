// icon-pack over arbitrary input files, with and without sizes to make. A
// run either writes an icon that the file checks pass with no error, listed
// line by line, its images in order (unless kept as given), each the bytes
// of one of the inputs or listed as made, with no two of one size and
// depth, and with sizes asked for exactly those sizes; or it fails, and the
// output is byte for byte what it was. Every line on standard error is one
// diagnostic. Inputs that look like SVG drawings are changed so that they
// do not: the fuzzing is of this program, not of librsvg.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "bundle_inputs.hpp"
#include "file_checks.hpp"
#include "fuzz_support.hpp"
#include "ico_builder.hpp"
#include "pack_icons.hpp"
#include "svg_render.hpp"

using fuzz::bytes;
using fuzz::check;
using fuzz::lines;

namespace {

// The first byte's bits: the images in the order given; the output is the
// first input.
constexpr std::uint8_t keep_order = 1;
constexpr std::uint8_t output_is_input = 2;
// Sizes made: --sizes=32,16,5; --bitmap=16; --linear.
constexpr std::uint8_t make_sizes = 4;
constexpr std::uint8_t make_bitmap = 8;
constexpr std::uint8_t make_linear = 16;
const std::vector<std::uint32_t> fuzz_sizes = {32, 16, 5};
// Sources up to 1024 x 1024: an interlaced one is held whole, and the
// fuzzer allows 64 MiB.
constexpr image_limits fuzz_limits{4096, std::uint64_t{1024} * 1024};

bool from_an_input(const std::uint8_t* image, std::size_t size, const std::vector<bytes>& inputs) {
    return std::any_of(inputs.begin(), inputs.end(), [&](const bytes& input) {
        return std::search(input.begin(), input.end(), image, image + size) != input.end();
    });
}

void check_written(const bytes& out, const std::vector<bytes>& inputs,
                   const std::vector<std::string>& listing, bool ordered,
                   const std::vector<std::uint32_t>& sizes) {
    const std::size_t listed = listing.size() - 1;
    bytes copy = out;
    std::FILE* stream = fuzz::open_bytes(copy);
    check(stream != nullptr, "no stream over the output");
    file_report report;
    const bool read = lint_stream(stream, {}, report);
    std::fclose(stream);
    check(read, "the output cannot be read back");
    check(!has_error(report.findings), "the output has an error");
    check(out.size() >= 6 && fuzz::le16(out.data() + 4) == listed, "idCount is not the number listed");
    std::vector<std::tuple<std::int32_t, std::int32_t, std::uint16_t>> seen;
    for (std::size_t k = 0; k < listed; ++k) {
        const std::uint8_t* entry = out.data() + 6 + 16 * k;
        const std::uint32_t size = fuzz::le32(entry + 8);
        const std::uint32_t offset = fuzz::le32(entry + 12);
        check(std::uint64_t{offset} + size <= out.size(), "an image outside the output");
        const bool made = listing[k].find(" made from ") != std::string::npos;
        check(made || from_an_input(out.data() + offset, size, inputs), "an image not taken from an input");
        const image_facts& facts = report.images[k].facts;
        if (!sizes.empty()) {
            check(facts.width == facts.height &&
                      std::find(sizes.begin(), sizes.end(), static_cast<std::uint32_t>(facts.width)) !=
                          sizes.end(),
                  "an image of a size not asked for");
        }
        const auto key = std::tuple{facts.width, facts.height, facts.bit_count};
        check(std::find(seen.begin(), seen.end(), key) == seen.end(), "two images of one size and depth");
        if (ordered && !seen.empty()) check(seen.back() > key, "images out of order");
        seen.push_back(key);
    }
    for (const std::uint32_t side : sizes) {
        check(std::any_of(
                  seen.begin(), seen.end(),
                  [side](const auto& key) { return std::get<0>(key) == static_cast<std::int32_t>(side); }),
              "a size asked for is missing");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::make_scratch_folder("pack-fuzz-");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
    const std::vector<bytes> files = fuzz::split_inputs(raw, size);
    if (files.empty()) return 0;
    const std::uint8_t flags = size > 0 ? raw[0] : 0;
    std::vector<std::string> paths;
    std::vector<bytes> kept = files;
    for (std::size_t n = 0; n < files.size(); ++n) {
        if (looks_like_svg(kept[n].data(), kept[n].size())) kept[n].insert(kept[n].begin(), 'x');
        paths.push_back(fuzz::scratch_folder() + "/in" + std::to_string(n) + ".ico");
        fuzz::write_file(paths.back(), kept[n]);
    }
    const bool into_input = (flags & output_is_input) != 0;
    const std::string out_path = into_input ? paths.front() : fuzz::scratch_folder() + "/out.ico";
    // An existing output that is not an icon file is never replaced: the
    // old output is an icon file without images.
    const bytes before = into_input ? kept.front() : bytes{0, 0, 1, 0, 0, 0};
    if (!into_input) fuzz::write_file(out_path, before);

    pack_request request;
    request.output = out_path.c_str();
    request.keep_order = (flags & keep_order) != 0;
    if ((flags & make_sizes) != 0) {
        request.sizes = fuzz_sizes;
        if ((flags & make_bitmap) != 0) request.bitmap_sizes = {16};
        request.linear = (flags & make_linear) != 0;
    }
    request.source_limits = fuzz_limits;
    for (const std::string& path : paths) request.inputs.push_back(path.c_str());
    int status = 0;
    std::string out;
    std::string err;
    {
        fuzz::console_capture console;
        status = pack_icons(request);
        out = console.out();
        err = console.err();
    }
    for (const std::string& line : lines(err)) {
        check(line.find(": error: ") != std::string::npos || line.find(": warning: ") != std::string::npos ||
                  line.find(": note: ") != std::string::npos,
              "a line on standard error without its severity");
        check(line.back() == ']', "a line on standard error without its id");
    }
    const bytes after = fuzz::read_file(out_path);
    if (status != 0) {
        check(status == 1, "status neither 0 nor 1");
        check(after == before, "a failed run changed the output");
        check(out.empty(), "a failed run listed images");
        return 0;
    }
    const std::vector<std::string> listing = lines(out);
    check(!listing.empty() && listing.back().rfind("Packed ", 0) == 0, "no summary line");
    check_written(after, kept, listing, !request.keep_order, request.sizes);
    return 0;
}
