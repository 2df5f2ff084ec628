#include "command_line.hpp"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

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

enum class long_option { none, help, version, force, png, format, directory, ambiguous };

// A long option by its name or, as GNU programs accept, a prefix that only
// one of them has.
long_option find_long_option(std::string_view name) {
    struct known {
        std::string_view name;
        long_option option;
    };
    static constexpr known options[] = {
        {"help", long_option::help},     {"version", long_option::version},
        {"force", long_option::force},   {"png", long_option::png},
        {"format", long_option::format}, {"directory", long_option::directory}};
    long_option found = long_option::none;
    for (const known& k : options) {
        if (k.name == name) return k.option;
        if (!name.empty() && k.name.substr(0, name.size()) == name)
            found = found == long_option::none ? k.option : long_option::ambiguous;
    }
    return found;
}

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
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options_end || arg[0] != '-' || arg[1] == '\0') {
            request.inputs.push_back(arg);
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            options_end = true;
            continue;
        }
        if (arg[1] != '-') {
            // Short options: only -d, its folder joined to it or the next argument.
            if (arg[1] != 'd') {
                result.status = usage_error("invalid option -- '" + std::string(1, arg[1]) + "'");
                return result;
            }
            const char* path = arg[2] != '\0' ? arg + 2 : (i + 1 < argc ? argv[++i] : nullptr);
            if (path == nullptr) {
                result.status = usage_error("option requires an argument -- 'd'");
                return result;
            }
            if (!set_directory(request, path, result)) return result;
            continue;
        }
        const std::string_view text(arg + 2);
        const std::size_t equals = text.find('=');
        const std::string_view name = text.substr(0, equals);
        const long_option option = find_long_option(name);
        if (option == long_option::none || option == long_option::ambiguous) {
            const std::string quoted = "'" + std::string(arg) + "'";
            result.status = usage_error(option == long_option::none ? "unrecognized option " + quoted
                                                                    : "option " + quoted + " is ambiguous");
            return result;
        }
        const bool takes_value = option == long_option::format || option == long_option::directory;
        if (!takes_value && equals != std::string_view::npos) {
            result.status = usage_error("option '--" + std::string(name) + "' doesn't allow an argument");
            return result;
        }
        const char* value = nullptr;
        if (takes_value) {
            value =
                equals != std::string_view::npos ? arg + 3 + equals : (i + 1 < argc ? argv[++i] : nullptr);
            if (value == nullptr) {
                const char* full = option == long_option::format ? "format" : "directory";
                result.status = usage_error("option '--" + std::string(full) + "' requires an argument");
                return result;
            }
        }
        switch (option) {
            case long_option::help: result.what = action::help; return result;
            case long_option::version: result.what = action::version; return result;
            case long_option::force: request.force = true; break;
            case long_option::png: request.png = true; break;
            case long_option::format:
                if (!set_format(request, value, result)) return result;
                break;
            case long_option::directory:
                if (!set_directory(request, value, result)) return result;
                break;
            default: break;
        }
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
