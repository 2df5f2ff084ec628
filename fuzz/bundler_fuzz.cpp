// The bundler's two passes over arbitrary input files. After each run the
// output must be a well-formed icon file: idCount equal to the number of
// images listed, every slot inside the file, the slots back to back from
// 6 + 16 * idCount, and each slot the bytes of its source image, padded with
// zeros only where the input ends early (which makes the run fail). The
// listing, the messages and the output are also compared with a plain model
// of the walk.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "bundle_icons.hpp"
#include "bundle_inputs.hpp"
#include "fuzz_support.hpp"
#include "ico_builder.hpp"

using fuzz::bytes;
using fuzz::check;
using fuzz::format;

namespace {

// Every slot is written whole, and the copy buffer takes up to 1 MiB of a
// claim at its word; keep what the inputs claim within a few megabytes so
// that the output stays small and only an allocation the design does not
// make trips the malloc limit. Negative sizes are left alone: the bundler
// must refuse them itself.
void limit_claimed_sizes(std::vector<bytes>& files) {
    constexpr std::uint32_t one_image = 1u << 20;
    constexpr std::uint32_t all_images = 4u << 20;
    std::uint32_t total = 0;
    for (bytes& file : files) {
        if (file.size() < 6) continue;
        const std::size_t count = fuzz::le16(file.data() + 4);
        for (std::size_t i = 0; i < count && 6 + 16 * i + 16 <= file.size(); ++i) {
            const std::size_t at = 6 + 16 * i + 8;
            std::uint32_t size = fuzz::le32(file.data() + at);
            if (size >= 0x80000000u) continue;
            if (size > one_image) size &= 0xFFFFu;
            if (total + size > all_images) size &= 0xFFu;
            total += size;
            file = icon_test::patched(std::move(file), at, size);
        }
    }
}

struct source {
    std::size_t input;
    std::size_t index;
};

struct expectation {
    std::string out;
    std::string err;
    std::vector<source> images;
    bool short_copy = false;  // an image ran past the end of its input
};

bool accepted_depth(unsigned bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The walk as the bundler makes it: `inputs` holds null for a path that
// cannot be opened.
expectation model(const std::vector<const bytes*>& inputs, const std::vector<std::string>& paths) {
    expectation want;
    const std::string open_failed =
        "open failed: No such file or directory\n## ERROR: can't open input file\n";
    std::int64_t total = 0;
    std::vector<std::vector<std::size_t>> taken(inputs.size());
    for (std::size_t n = 0; n < inputs.size(); ++n) {
        want.out += paths[n] + "\n";
        if (inputs[n] == nullptr) {
            want.err += open_failed;
            continue;
        }
        const bytes& file = *inputs[n];
        if (file.size() < 6) {
            want.err += "## ERROR: can't read ICONDIR\n";
            continue;
        }
        const std::size_t count = fuzz::le16(file.data() + 4);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = 6 + 16 * i;
            if (at + 16 > file.size() || fuzz::le32s(file.data() + at + 12) < 0) {
                want.err += "## ERROR: can't read ICONDIRENTRY; skipping file\n";
                break;
            }
            const std::int32_t size = fuzz::le32s(file.data() + at + 8);
            const auto offset = static_cast<std::size_t>(fuzz::le32s(file.data() + at + 12));
            if (offset + 40 > file.size()) {
                want.err += "## ERROR: can't read BITMAPINFOHEADER; skipping file\n";
                break;
            }
            const std::uint8_t* h = file.data() + offset;
            const bool png = h[0] == 0x89 && h[1] == 'P' && h[2] == 'N' && h[3] == 'G';
            const std::int32_t width = fuzz::le32s(h + 4);
            const std::int32_t height = fuzz::le32s(h + 8);
            const std::uint16_t bits = fuzz::le16(h + 14);
            if (!png && !(accepted_depth(bits) && width <= 256 && height <= 512 && height % 2 == 0 &&
                          size == icon_test::reference_size(width, height, bits))) {
                want.err += "## ERROR: invalid BITMAPINFOHEADER; skipping icon\n";
                continue;
            }
            if (size < 0 || total + size > 2147483647 - 6 - 16 * 65535) {
                want.err += "## ERROR: image size out of range; skipping icon\n";
                continue;
            }
            if (want.images.size() >= 65535) {
                want.err += "## ERROR: more than 65535 icons; skipping icon\n";
                continue;
            }
            want.out += png ? format("#%4zu: PNG (Vista) icon\n", i)
                            : format("#%4zu: %4d x%4d,%3u bit%s/pixel\n", i, width, height / 2,
                                     unsigned{bits}, bits > 1 ? "s" : "");
            want.images.push_back({n, i});
            taken[n].push_back(i);
            total += size;
        }
    }
    // The copy pass is silent but for inputs that cannot be opened and
    // images whose input ends before their last byte.
    for (std::size_t n = 0; n < inputs.size(); ++n) {
        want.out += paths[n] + "\n";
        if (inputs[n] == nullptr) {
            want.err += open_failed;
            continue;
        }
        for (const std::size_t i : taken[n]) {
            const std::uint8_t* entry = inputs[n]->data() + 6 + 16 * i;
            if (std::uint64_t{fuzz::le32(entry + 12)} + fuzz::le32(entry + 8) > inputs[n]->size()) {
                want.err += "## ERROR: can't read icon\n";
                want.short_copy = true;
            }
        }
    }
    want.out += want.images.empty() ? "No icons found, wrote empty icon suite\n"
                                    : format("Bundled %zu icons from %zu input files.\n\n",
                                             want.images.size(), inputs.size());
    return want;
}

std::size_t listed_images(const std::string& out) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < out.size(); at = out.find('\n', at) + 1) {
        if (out[at] == '#') ++count;
        if (out.find('\n', at) == std::string::npos) break;
    }
    return count;
}

// The output on its own terms, then slot by slot against its sources.
void check_output(const bytes& out, const expectation& want, const std::vector<const bytes*>& inputs,
                  std::size_t listed) {
    check(out.size() >= 6, "output shorter than an ICONDIR");
    check(fuzz::le16(out.data()) == 0 && fuzz::le16(out.data() + 2) == 1, "output ICONDIR");
    const std::size_t count = fuzz::le16(out.data() + 4);
    check(count == listed, "idCount is not the number of images listed");
    check(count == want.images.size(), "idCount differs from the model");
    check(out.size() >= 6 + 16 * count, "output directory cut short");
    std::uint64_t next = 6 + 16 * count;
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint8_t* entry = out.data() + 6 + 16 * k;
        const std::uint32_t size = fuzz::le32(entry + 8);
        const std::uint32_t offset = fuzz::le32(entry + 12);
        check(offset == next, "slots are not back to back");
        check(std::uint64_t{offset} + size <= out.size(), "slot outside the file");
        next = std::uint64_t{offset} + size;

        const bytes& file = *inputs[want.images[k].input];
        const std::uint8_t* source_entry = file.data() + 6 + 16 * want.images[k].index;
        check(std::equal(entry, entry + 12, source_entry), "entry differs from its source");
        const std::uint32_t from = fuzz::le32(source_entry + 12);
        const std::size_t present = from < file.size() ? std::min<std::size_t>(size, file.size() - from) : 0;
        static const bytes zeros(std::size_t{1} << 21);  // more than any slot's padding can be
        const std::uint8_t* source = present > 0 ? file.data() + from : file.data();
        check(std::memcmp(out.data() + offset, source, present) == 0, "slot differs from its source");
        check(size - present <= zeros.size() &&
                  std::memcmp(out.data() + offset + present, zeros.data(), size - present) == 0,
              "slot not padded with zeros");
    }
    check(next == out.size(), "bytes after the last slot");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::make_scratch_folder("bundler-fuzz-");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
    std::vector<bytes> files = fuzz::split_inputs(raw, size);
    const std::uint8_t flags = size > 0 ? raw[0] : 0;
    limit_claimed_sizes(files);

    std::vector<std::string> paths;
    std::vector<const bytes*> inputs;
    for (std::size_t n = 0; n < files.size(); ++n) {
        paths.push_back(fuzz::scratch_folder() + "/in" + std::to_string(n) + ".ico");
        inputs.push_back(&files[n]);
        fuzz::write_file(paths.back(), files[n]);
    }
    if ((flags & fuzz::repeat_first_input) != 0) {
        paths.push_back(paths.front());
        inputs.push_back(&files.front());
    }
    if ((flags & fuzz::add_missing_input) != 0) {
        paths.push_back(fuzz::scratch_folder() + "/missing.ico");
        inputs.push_back(nullptr);
    }
    const expectation want = model(inputs, paths);

    std::vector<char*> argv = {const_cast<char*>("icon-bundler")};
    for (std::string& path : paths) argv.push_back(path.data());
    argv.push_back(nullptr);
    program_argv = argv.data();

    const std::string out_path = fuzz::scratch_folder() + "/out.ico";
    std::FILE* output = std::fopen(out_path.c_str(), "wb");
    check(output != nullptr, "cannot create the output");
    int result = 0;
    std::string out;
    std::string err;
    {
        fuzz::console_capture console;
        result = bundle_icons(static_cast<int>(paths.size()), output);
        out = console.out();
        err = console.err();
    }
    check(std::fclose(output) == 0, "closing the output");
    check(result == (want.short_copy ? 0 : 1), "bundling result");
    fuzz::check_text(out, want.out, "bundler standard output");
    fuzz::check_text(err, want.err, "bundler standard error");
    check_output(fuzz::read_file(out_path), want, inputs, listed_images(out));
    return 0;
}
