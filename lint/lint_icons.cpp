#include "lint_icons.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "escape.hpp"
#include "platform.hpp"
#include "report.hpp"
#include "stream_io.hpp"

namespace {

const char* const USAGE =
    "Usage: icon-lint [--format=text|json] [--require-sizes=N,...] FILE...\n"
    "Check icon (.ico) and cursor (.cur) files for what keeps Windows and the\n"
    "browsers from showing them as intended.\n"
    "\n"
    "  --format=text        findings as 'FILE: image N: error: MESSAGE [check]' (default)\n"
    "  --format=json        findings as one JSON object a line\n"
    "  --require-sizes=LIST an error for each square size in LIST (e.g. 16,32,48,256)\n"
    "                       that no image has\n"
    "  --help               show this help and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "Exit status: 0 when no file has an error (warnings and notes allowed), 1 when\n"
    "any has, 2 for a usage error or a file that cannot be opened or read.\n";

void append_number(std::string& out, long long value) { out += std::to_string(value); }

// One finding as a text line, `shown` being the path as escaped_name shows it.
void text_line_of(std::string& out, const std::string& shown, const finding& f) {
    out += shown;
    if (f.image >= 0) {
        out += ": image ";
        append_number(out, f.image);
    }
    out += ": ";
    out += severity_name(f.level);
    out += ": ";
    out += f.message;
    out += " [";
    out += f.id;
    out += "]\n";
}

void json_number_or_null(std::string& out, const char* name, bool known, long long value) {
    out += ",\"";
    out += name;
    out += "\":";
    if (known) {
        append_number(out, value);
    } else {
        out += "null";
    }
}

// One finding as a JSON line, `quoted` being the path as json_string gives
// it, with the facts of `image` (null for the file as a whole).
void json_line_of(std::string& out, const std::string& quoted, const finding& f, const image_record* image) {
    const bool examined = image != nullptr && image->facts.kind != image_kind::unknown;
    out += "{\"path\":";
    out += quoted;
    json_number_or_null(out, "image", f.image >= 0, f.image);
    json_number_or_null(out, "offset", f.offset >= 0, f.offset);
    out += ",\"severity\":\"";
    out += severity_name(f.level);
    out += "\",\"check\":\"";
    out += f.id;
    out += "\",\"message\":";
    out += json_string(f.message);
    const bool sized = examined && image->facts.width > 0;
    json_number_or_null(out, "width", sized, sized ? image->facts.width : 0);
    json_number_or_null(out, "height", sized, sized ? image->facts.height : 0);
    const bool deep = examined && image->facts.bit_count != 0;
    json_number_or_null(out, "depth", deep, deep ? image->facts.bit_count : 0);
    out += ",\"kind\":";
    if (examined) {
        out += '"';
        out += image_kind_name(image->facts.kind);
        out += '"';
    } else {
        out += "null";
    }
    out += "}\n";
}

// The path as a line of `format` shows it.
std::string shown_path(const std::string& path, output_format format) {
    return format == output_format::json ? json_string(path) : escaped_name(path);
}

void line_of(std::string& out, const std::string& shown, const finding& f, const image_record* image,
             output_format format) {
    if (format == output_format::json) {
        json_line_of(out, shown, f, image);
    } else {
        text_line_of(out, shown, f);
    }
}

bool parse_sizes(std::string_view list, std::vector<std::int32_t>& sizes) {
    for (std::size_t start = 0;;) {
        const std::size_t comma = list.find(',', start);
        const std::string_view item =
            list.substr(start, comma == std::string_view::npos ? comma : comma - start);
        if (item.empty() || item.size() > 3 ||
            !std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return false;
        }
        std::int32_t value = 0;
        for (const char c : item) value = value * 10 + (c - '0');
        if (value < 1 || value > 256) return false;
        sizes.push_back(value);
        if (comma == std::string_view::npos) return true;
        start = comma + 1;
    }
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "icon-lint: %s\nTry 'icon-lint --help' for more information.\n", message.c_str());
    return 2;
}

}  // namespace

std::string format_report(const std::string& path, const file_report& report, output_format format) {
    const std::string shown = shown_path(path, format);
    std::string out;
    for (const finding& f : report.findings) {
        const bool of_image = f.image >= 0 && static_cast<std::size_t>(f.image) < report.images.size();
        line_of(out, shown, f, of_image ? &report.images[static_cast<std::size_t>(f.image)] : nullptr,
                format);
    }
    return out;
}

int lint_file(const std::string& path, const lint_command& command) {
    char buffer[INPUT_BUFFER_SIZE];
    errno = 0;
    const owned_stream stream{std::fopen(path.c_str(), "rb")};
    if (!stream) {
        const int error = errno;
        std::fprintf(stderr, "%s: error: cannot open: %s\n", escaped_name(path).c_str(),
                     error != 0 ? std::strerror(error) : "unknown reason");
        return 2;
    }
    prepare_input(stream.get(), buffer);
    // Each finding is written as it is made: memory holds no more than one
    // image's findings, whatever the file.
    const std::string shown = shown_path(path, command.format);
    std::string line;
    bool errors = false;
    file_report report;
    const bool read =
        lint_stream(stream.get(), command.options, report, [&](const finding& f, const image_record* image) {
            errors = errors || f.level == severity::error;
            line.clear();
            line_of(line, shown, f, image, command.format);
            std::fwrite(line.data(), 1, line.size(), stdout);
        });
    if (!read || std::ferror(stream.get()) != 0) {
        std::fprintf(stderr, "%s: error: cannot read: %s\n", escaped_name(path).c_str(),
                     errno != 0 ? std::strerror(errno) : "not a seekable file");
        return 2;
    }
    return errors ? 1 : 0;
}

int lint_main(int argc, char** argv) {
    if (!secure_standard_streams()) return 2;
    lint_command command;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            command.files.emplace_back(arg);
            continue;
        }
        std::string_view value;
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const bool takes_value = name == "--format" || name == "--require-sizes";
        if (takes_value) {
            if (equals != std::string_view::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                return usage_error("option '" + std::string(name) + "' requires an argument");
            }
        } else if (equals != std::string_view::npos && (name == "--help" || name == "--version")) {
            return usage_error("option '" + std::string(name) + "' doesn't allow an argument");
        }
        if (arg == "--") {
            options_done = true;
        } else if (arg == "--help") {
            std::fputs(USAGE, stdout);
            return finish_standard_output(0);
        } else if (arg == "--version") {
            std::fputs("icon-lint (icon-tools) " ICON_TOOLS_VERSION "\n", stdout);
            return finish_standard_output(0);
        } else if (name == "--format") {
            if (value == "text") {
                command.format = output_format::text;
            } else if (value == "json") {
                command.format = output_format::json;
            } else {
                return usage_error("invalid format '" + std::string(value) + "' (text or json)");
            }
        } else if (name == "--require-sizes") {
            command.options.required_sizes.clear();
            if (!parse_sizes(value, command.options.required_sizes)) {
                return usage_error("invalid size list '" + std::string(value) +
                                   "' (sizes from 1 to 256, separated by commas)");
            }
        } else {
            return usage_error("unrecognized option '" + std::string(arg) + "'");
        }
    }
    if (command.files.empty()) return usage_error("no input files");
    int status = 0;
    for (const std::string& path : command.files) status = std::max(status, lint_file(path, command));
    // A lost report is a failure even when every file was clean.
    const int finished = finish_standard_output(status);
    return finished == status ? status : std::max(status, 1);
}
