#include "command_line.hpp"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "pack_icons.hpp"
#include "platform.hpp"
#include "report.hpp"

namespace {

constexpr const char* program = "icon-pack";
constexpr int usage_status = 2;

const char* const help_text =
    "Usage: icon-pack -o OUTPUT [--keep-order] [--quiet] INPUT...\n"
    "Pack PNG files and the images of icon or cursor files into one icon or\n"
    "cursor file, keeping every image's bytes as they are.\n"
    "\n"
    "Each INPUT is a PNG file (one image) or an .ico or .cur file (each of its\n"
    "images). Every directory entry is made from the image itself. Images are\n"
    "written largest first, then deeper first; an image with the size and depth\n"
    "of an earlier one is skipped. Any error leaves OUTPUT as it was.\n"
    "\n"
    "  -o, --output=OUTPUT  the icon file to write; it may be one of the inputs\n"
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
    std::fprintf(stderr,
                 "%s: error: %s\nUsage: %s -o OUTPUT [--keep-order] [--quiet] INPUT...\n"
                 "Try '%s --help' for more information.\n",
                 program, message.c_str(), program, program);
    return usage_status;
}

enum class long_option { none, help, version, keep_order, quiet, output, ambiguous };

// A long option by its name or, as GNU programs accept, a prefix that only
// one of them has.
long_option find_long_option(std::string_view name) {
    struct known {
        std::string_view name;
        long_option option;
    };
    static constexpr known options[] = {{"help", long_option::help},
                                        {"version", long_option::version},
                                        {"keep-order", long_option::keep_order},
                                        {"quiet", long_option::quiet},
                                        {"output", long_option::output}};
    long_option found = long_option::none;
    for (const known& k : options) {
        if (k.name == name) return k.option;
        if (!name.empty() && k.name.substr(0, name.size()) == name)
            found = found == long_option::none ? k.option : long_option::ambiguous;
    }
    return found;
}

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
    request.output = path;
    return true;
}

parsed parse(int argc, char** argv, pack_request& request) {
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
            // Short options: only -o, its path joined to it or the next argument.
            if (arg[1] != 'o') {
                result.status = usage_error("invalid option -- '" + std::string(1, arg[1]) + "'");
                return result;
            }
            const char* path = arg[2] != '\0' ? arg + 2 : (i + 1 < argc ? argv[++i] : nullptr);
            if (path == nullptr) {
                result.status = usage_error("option requires an argument -- 'o'");
                return result;
            }
            if (!set_output(request, path, result)) return result;
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
        if (option != long_option::output && equals != std::string_view::npos) {
            result.status = usage_error("option '--" + std::string(name) + "' doesn't allow an argument");
            return result;
        }
        switch (option) {
            case long_option::help: result.what = action::help; return result;
            case long_option::version: result.what = action::version; return result;
            case long_option::keep_order: request.keep_order = true; break;
            case long_option::quiet: request.quiet = true; break;
            default: {
                const char* path = equals != std::string_view::npos ? arg + 3 + equals
                                                                    : (i + 1 < argc ? argv[++i] : nullptr);
                if (path == nullptr) {
                    result.status = usage_error("option '--output' requires an argument");
                    return result;
                }
                if (!set_output(request, path, result)) return result;
            }
        }
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
        case action::version: std::fputs("icon-pack (icon-tools) " ICON_TOOLS_VERSION "\n", stdout); return 0;
        default: return pack_icons(request);
    }
}

}  // namespace

int pack_main(int argc, char** argv) {
    if (!secure_standard_streams()) return 1;
    return finish_standard_output(run(argc, argv));
}
