#include "command_line.hpp"

#include <cstdio>
#include <string>
#include <string_view>

#include "command_options.hpp"
#include "extract_icons.hpp"
#include "platform.hpp"
#include "report.hpp"

namespace {

constexpr const char* program = "icon-extract";
constexpr int usage_status = 2;

const char* const help_text =
    "Usage: icon-extract [-d DIR] [--force] [--png] [--format=text|json] FILE...\n"
    "Write every image of icon and cursor files as a PNG file, and every icon\n"
    "and cursor group of Windows programs and libraries as an icon or cursor file.\n"
    "\n"
    "Each FILE is an icon (.ico) or cursor (.cur) file, or a PE file (.exe, .dll,\n"
    ".icl, 32- or 64-bit). PNG images are written byte for byte, bitmap images\n"
    "converted; a group's images keep their bytes. Files are named from the input\n"
    "and the image or group, e.g. app-0-256x256-32.png and app-1.ico; an image\n"
    "with an error is skipped. Existing files are left as they are.\n"
    "\n"
    "  -d, --directory=DIR  write the files in DIR (default: the current folder)\n"
    "      --force          replace existing files\n"
    "      --png            write a PE file's groups as PNG files, one an image\n"
    "      --format=FORMAT  list the files written as text (default) or json\n"
    "      --help           display this help and exit\n"
    "      --version        output version information and exit\n"
    "\n"
    "Exit status: 0 when every image and group was written, 1 when any was not,\n"
    "2 when the command line cannot be used.\n";

// "icon-extract: error: <message>", the usage line and where help is
// found; answers the usage status.
int usage_error(const std::string& message) {
    std::fprintf(stderr,
                 "%s: error: %s\nUsage: %s [-d DIR] [--force] [--png] [--format=text|json] FILE...\n"
                 "Try '%s --help' for more information.\n",
                 program, message.c_str(), program, program);
    return usage_status;
}

enum option_id { help, version, force, png, format, directory };
constexpr long_option_spec options[] = {{"help", help, false},    {"version", version, false},
                                        {"force", force, false},  {"png", png, false},
                                        {"format", format, true}, {"directory", directory, true}};

enum class action { extract, help, version };

struct parsed {
    action what = action::extract;
    int status = 0;  // non-zero: a usage error, already reported
};

bool set_directory(extract_request& request, const char* path, parsed& result) {
    if (request.directory != nullptr) {
        result.status = usage_error("more than one directory (-d) given");
        return false;
    }
    if (path == nullptr || *path == '\0') {
        result.status = usage_error("the directory (-d) can't be an empty name");
        return false;
    }
    request.directory = path;
    return true;
}

bool set_format(extract_request& request, std::string_view value, parsed& result) {
    if (value == "text") {
        request.format = listing_format::text;
    } else if (value == "json") {
        request.format = listing_format::json;
    } else {
        result.status = usage_error("invalid format '" + std::string(value) + "' (text or json)");
        return false;
    }
    return true;
}

parsed parse(int argc, char** argv, extract_request& request) {
    parsed result;
    option_reader reader(argc, argv, 'd', directory, options);
    command_argument argument;
    while (reader.next(argument)) {
        switch (argument.id) {
            case OPERAND: request.inputs.push_back(argument.value); break;
            case help: result.what = action::help; return result;
            case version: result.what = action::version; return result;
            case force: request.force = true; break;
            case png: request.png = true; break;
            case format:
                if (!set_format(request, argument.value, result)) return result;
                break;
            default:
                if (!set_directory(request, argument.value, result)) return result;
        }
    }
    if (!reader.error().empty()) {
        result.status = usage_error(reader.error());
        return result;
    }
    if (request.inputs.empty()) result.status = usage_error("no input files given");
    return result;
}

int run(int argc, char** argv) {
    extract_request request;
    const parsed p = parse(argc, argv, request);
    if (p.status != 0) return p.status;
    switch (p.what) {
        case action::help: std::fputs(help_text, stdout); return 0;
        case action::version:
            std::fputs("icon-extract (icon-tools) " ICON_TOOLS_VERSION "\n", stdout);
            return 0;
        default: return extract_icons(request);
    }
}

}  // namespace

int extract_main(int argc, char** argv) {
    if (!secure_standard_streams()) return 1;
    return finish_standard_output(run(argc, argv));
}
