#include "command_line.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "command_options.hpp"
#include "pack_icons.hpp"
#include "platform.hpp"
#include "png_codec.hpp"
#include "report.hpp"
#include "svg_render.hpp"

namespace {

constexpr const char* program = "icon-pack";
constexpr int usage_status = 2;

const char* const help_text =
    "Usage: icon-pack -o OUTPUT [--sizes=LIST [--bitmap=LIST] [--linear]] [--keep-order] [--quiet] INPUT...\n"
    "Pack PNG files and the images of icon or cursor files into one icon or\n"
    "cursor file, keeping every image's bytes as they are, and make the sizes\n"
    "asked for that no input has, from one master image or SVG drawing.\n"
    "\n"
    "Each INPUT is a PNG file (one image), an .ico or .cur file (each of its\n"
    "images) or, with --sizes, an SVG drawing. Every directory entry is made\n"
    "from the image itself. Images are written largest first, then deeper\n"
    "first; an image with the size and depth of an earlier one is skipped.\n"
    "With --sizes, exactly those sizes are written: each size an input has is\n"
    "kept as it is; every other is drawn from the SVG input, or shrunk from the\n"
    "smallest larger image, never enlarged. Any error leaves OUTPUT as it was.\n"
    "\n"
    "  -o, --output=OUTPUT  the icon file to write; it may be one of the inputs\n"
    "      --sizes=LIST     write these sizes, e.g. 16,24,32,48,256; or a set:\n"
    "                       windows (16,20,24,32,40,48,64,256), favicon (16,32,48)\n"
    "      --bitmap=LIST    make these sizes 32-bit bitmaps with a mask, not PNG\n"
    "      --linear         shrink in linear light (for photographs)\n"
    "      --keep-order     write the images in the order given\n"
    "      --quiet          list nothing on standard output; problems are\n"
    "                       still reported on standard error\n"
    "      --help           display this help and exit\n"
    "      --version        output version information and exit\n"
    "\n"
    "Exit status: 0 when OUTPUT was written completely, 1 on any error,\n"
    "2 when the command line cannot be used.\n";

// "icon-pack: error: <message>", the usage line and where help is found;
// answers the usage status.
int usage_error(const std::string& message) {
    std::fprintf(
        stderr,
        "%s: error: %s\nUsage: %s -o OUTPUT [--sizes=LIST [--bitmap=LIST] [--linear]] [--keep-order] "
        "[--quiet] INPUT...\n"
        "Try '%s --help' for more information.\n",
        program, message.c_str(), program, program);
    return usage_status;
}

// The named sets of sizes. windows: the sizes Windows 10 and 11 draw an
// application's small icon at, from 100 % to 400 % display scale (16, 20,
// 24, 32, 40, 48, 64), and 256 for its largest views; favicon: the sizes
// Microsoft recommends for a site's favicon.ico.
struct size_set {
    std::string_view name;
    std::vector<std::uint32_t> sizes;
};
const std::vector<size_set>& size_sets() {
    static const std::vector<size_set> sets = {{"windows", {16, 20, 24, 32, 40, 48, 64, 256}},
                                               {"favicon", {16, 32, 48}}};
    return sets;
}

// Reads a list of sizes and set names, separated by commas, into `sizes`,
// each size once, in the order first named; false, with the word it could
// not use in `bad`, when one is neither.
bool read_sizes(std::string_view list, std::vector<std::uint32_t>& sizes, std::string& bad) {
    const auto add = [&sizes](std::uint32_t side) {
        if (std::find(sizes.begin(), sizes.end(), side) == sizes.end()) sizes.push_back(side);
    };
    std::size_t at = 0;
    do {
        const std::size_t comma = list.find(',', at);
        const std::string_view word = list.substr(at, comma == std::string_view::npos ? comma : comma - at);
        at = comma == std::string_view::npos ? list.size() + 1 : comma + 1;
        const auto set = std::find_if(size_sets().begin(), size_sets().end(),
                                      [word](const size_set& s) { return s.name == word; });
        if (set != size_sets().end()) {
            for (const std::uint32_t side : set->sizes) add(side);
            continue;
        }
        std::uint32_t side = 0;
        const auto [end, problem] = std::from_chars(word.data(), word.data() + word.size(), side);
        if (word.empty() || problem != std::errc{} || end != word.data() + word.size() || side < 1 ||
            side > 256) {
            bad = word;
            return false;
        }
        add(side);
    } while (at <= list.size());
    return true;
}

enum option_id { help, version, keep_order, quiet, output, sizes, bitmap, linear };
constexpr long_option_spec options[] = {
    {"help", help, false},    {"version", version, false}, {"keep-order", keep_order, false},
    {"quiet", quiet, false},  {"output", output, true},    {"sizes", sizes, true},
    {"bitmap", bitmap, true}, {"linear", linear, false}};

enum class action { pack, help, version };

struct parsed {
    action what = action::pack;
    int status = 0;  // non-zero: a usage error, already reported
};

// Sets the output, refusing a second one.
bool set_output(pack_request& request, const char* path, parsed& result) {
    if (request.output != nullptr) {
        result.status = usage_error("more than one output (-o) given");
        return false;
    }
    if (*path == '\0') {
        result.status = usage_error("the output file name is empty");
        return false;
    }
    request.output = path;
    return true;
}

parsed parse(int argc, char** argv, pack_request& request) {
    parsed result;
    option_reader reader(argc, argv, 'o', output, options);
    command_argument argument;
    while (reader.next(argument)) {
        switch (argument.id) {
            case OPERAND: request.inputs.push_back(argument.value); break;
            case help: result.what = action::help; return result;
            case version: result.what = action::version; return result;
            case keep_order: request.keep_order = true; break;
            case quiet: request.quiet = true; break;
            case linear: request.linear = true; break;
            case sizes:
            case bitmap: {
                std::string bad;
                if (!read_sizes(argument.value, argument.id == sizes ? request.sizes : request.bitmap_sizes,
                                bad)) {
                    result.status = usage_error("invalid size '" + bad + "' in --" +
                                                (argument.id == sizes ? "sizes" : "bitmap") +
                                                ": give numbers from 1 to 256, or windows or favicon");
                    return result;
                }
                break;
            }
            default:
                if (!set_output(request, argument.value, result)) return result;
        }
    }
    if (!reader.error().empty()) {
        result.status = usage_error(reader.error());
        return result;
    }
    if (!request.sizes.empty() || request.bitmap_sizes.empty()) {
        for (const std::uint32_t side : request.bitmap_sizes) {
            if (std::find(request.sizes.begin(), request.sizes.end(), side) == request.sizes.end()) {
                result.status =
                    usage_error("the --bitmap size " + std::to_string(side) + " is not among the --sizes");
                return result;
            }
        }
    } else {
        result.status = usage_error("option '--bitmap' needs --sizes");
        return result;
    }
    if (request.linear && request.sizes.empty()) {
        result.status = usage_error("option '--linear' needs --sizes");
        return result;
    }
    if (request.output == nullptr) {
        result.status = usage_error("no output file given (-o OUTPUT)");
    } else if (request.inputs.empty()) {
        result.status = usage_error("no input files given");
    }
    return result;
}

int run(int argc, char** argv) {
    pack_request request;
    const parsed p = parse(argc, argv, request);
    if (p.status != 0) return p.status;
    switch (p.what) {
        case action::help: std::fputs(help_text, stdout); return 0;
        case action::version:
            std::printf("icon-pack (icon-tools) " ICON_TOOLS_VERSION "\nPNG: %s; SVG: %s\n",
                        png_library_versions(),
                        svg_supported() ? svg_renderer_version() : "none (this build has no librsvg)");
            return 0;
        default: return pack_icons(request);
    }
}

}  // namespace

int pack_main(int argc, char** argv) {
    if (!secure_standard_streams()) return 1;
    return finish_standard_output(run(argc, argv));
}
