#include "lint_icons.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "escape.hpp"
#include "image_pixels.hpp"
#include "platform.hpp"
#include "report.hpp"
#include "stream_io.hpp"

namespace {

const char* const USAGE =
    "Usage: icon-lint [OPTION]... FILE...\n"
    "Check icon (.ico) and cursor (.cur) files for what keeps Windows, Chrome,\n"
    "Firefox, GNOME and Qt from showing them as intended.\n"
    "\n"
    "  --format=FORMAT      text: 'FILE: image N: error: MESSAGE [check]' (default);\n"
    "                       json: one JSON object a line; sarif: one SARIF 2.1.0 log;\n"
    "                       github: GitHub Actions workflow commands\n"
    "  --readers            instead of findings, which image each reader shows at\n"
    "                       16, 24, 32, 48, 64 and 256 pixels and which it fails\n"
    "  --ignore=ID,...      report none of these checks\n"
    "  --min-severity=LEVEL report only findings of LEVEL or above (error, warning\n"
    "                       or note; default note)\n"
    "  --fail-on=LEVEL      exit with 1 when a reported finding is of LEVEL or above\n"
    "                       (default error)\n"
    "  --require-sizes=LIST an error for each square size in LIST (e.g. 16,32,48,256)\n"
    "                       that no image has\n"
    "  --help               show this help and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "Exit status: 0 when no reported finding reaches --fail-on, 1 when one does,\n"
    "2 for a usage error or a file that cannot be opened or read.\n";

const std::vector<check_info> CHECKS = {
    {"not-an-icon", "The file is no icon file but another format."},
    {"header-reserved", "The header's reserved field (idReserved) is not 0."},
    {"header-type", "The header's type (idType) is neither icon (1) nor cursor (2)."},
    {"header-count", "The directory lists no image (idCount 0)."},
    {"directory-truncated", "The file ends inside its header or directory."},
    {"image-in-directory", "An image's offset lies inside the header or directory."},
    {"image-past-end", "An image starts, or its bytes run, past the end of the file."},
    {"image-overlap", "Two images' bytes overlap."},
    {"image-unreachable", "The file cannot be positioned at an image's offset."},
    {"duplicate-image", "Two images of one size and depth have different pixels."},
    {"readers-disagree", "The readers show different images of the file at one size."},
    {"png-only", "Every image is a PNG image, which GNOME does not read in icon files."},
    {"required-size", "A size required with --require-sizes has no image."},
    {"image-truncated", "The file ends inside an image."},
    {"entry-bytes-in-res", "The entry's byte count (dwBytesInRes) differs from the image's size."},
    {"entry-color-count", "The entry's colour count (bColorCount) differs from the image's palette."},
    {"entry-bit-count", "The entry's bit count (wBitCount) differs from the image's depth."},
    {"entry-planes", "The entry's plane count (wPlanes) is more than 1."},
    {"entry-reserved", "The entry's reserved byte (bReserved) is not 0."},
    {"cursor-hotspot", "A cursor's hotspot lies outside its image."},
    {"png-signature", "A PNG image's signature is damaged."},
    {"png-chunk", "A PNG image's chunk structure is broken."},
    {"png-no-ihdr", "A PNG image does not start with its IHDR chunk."},
    {"png-crc", "A PNG chunk's CRC does not match its bytes."},
    {"png-ihdr-format", "A PNG image's colour type and bit depth are no combination PNG defines."},
    {"png-ihdr-method", "A PNG image's compression, filter or interlace method is not one PNG defines."},
    {"png-no-idat", "A PNG image has no image data (IDAT)."},
    {"png-idat-split", "A PNG image's IDAT chunks are not consecutive."},
    {"png-unknown-critical", "A PNG image holds a critical chunk PNG does not define."},
    {"png-palette", "A PNG image's palette (PLTE) is missing or misplaced."},
    {"png-data", "A PNG image's compressed data does not decode."},
    {"png-size-mismatch", "A PNG image's size differs from its entry's."},
    {"png-dimensions", "A PNG image is larger than 256 pixels, or 0, on a side."},
    {"png-not-rgba", "A PNG image is not 8-bit RGBA."},
    {"png-gamma", "A PNG image carries a gamma that Chrome draws blank."},
    {"bitmap-header-size", "A bitmap's header is not the 40-byte BITMAPINFOHEADER."},
    {"bitmap-dimensions", "A bitmap's width is not positive, or it is stored top-down."},
    {"bitmap-height-not-doubled", "A bitmap's height does not count its mask rows."},
    {"bitmap-size-mismatch", "A bitmap's size differs from its entry's."},
    {"bitmap-compression", "A bitmap is compressed."},
    {"bitmap-bit-count", "A bitmap's depth (biBitCount) is one readers refuse."},
    {"bitmap-planes", "A bitmap's plane count (biPlanes) is not 1."},
    {"bitmap-palette", "A bitmap's palette size (biClrUsed) is one readers read differently."},
    {"bitmap-no-mask", "The file ends after a bitmap's colour rows, without its mask."},
    {"bitmap-alpha-zero", "A 32-bit bitmap's alpha is 0 everywhere."},
    {"bitmap-mask-inverts", "A bitmap's mask hides pixels that are not black, which Windows inverts."},
    {"bitmap-two-colours", "A 1-bit bitmap's colours are not black and white."},
};

// 0 for errors, 1 for warnings, 2 for notes: lower is graver.
int rank(severity level) { return static_cast<int>(level); }

bool parse_level(std::string_view text, severity& level) {
    for (const severity s : {severity::error, severity::warning, severity::note}) {
        if (text == severity_name(s)) {
            level = s;
            return true;
        }
    }
    return false;
}

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

// ["chrome","firefox"]
void json_readers(std::string& out, reader_set readers) {
    out += '[';
    bool first = true;
    for (int r = 0; r < READER_COUNT; ++r) {
        if (((readers >> r) & 1) == 0) continue;
        if (!first) out += ',';
        out += '"';
        out += reader_key(r);
        out += '"';
        first = false;
    }
    out += ']';
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
    out += ",\"readers\":";
    json_readers(out, readers_of(f.effect));
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

std::size_t rule_index(const char* id) {
    for (std::size_t i = 0; i < CHECKS.size(); ++i)
        if (std::strcmp(CHECKS[i].id, id) == 0) return i;
    return 0;
}

// One finding as a SARIF result, `uri` being the path as uri_of gives it.
void sarif_result_of(std::string& out, const std::string& uri, const finding& f, bool first) {
    if (!first) out += ",\n";
    out += "{\"ruleId\":\"";
    out += f.id;
    out += "\",\"ruleIndex\":";
    append_number(out, static_cast<long long>(rule_index(f.id)));
    out += ",\"level\":\"";
    out += severity_name(f.level);
    out += "\",\"message\":{\"text\":";
    out += json_string(f.image >= 0 ? "image " + std::to_string(f.image) + ": " + f.message : f.message);
    out += "},\"locations\":[{\"physicalLocation\":{\"artifactLocation\":{\"uri\":";
    out += json_string(uri);
    out += '}';
    if (f.offset >= 0) {
        out += ",\"region\":{\"byteOffset\":";
        append_number(out, f.offset);
        out += '}';
    }
    out += "}}],\"properties\":{\"readers\":";
    json_readers(out, readers_of(f.effect));
    if (f.image >= 0) {
        out += ",\"image\":";
        append_number(out, f.image);
    }
    out += "}}";
}

// One finding as a GitHub workflow command; notes are notices.
void github_line_of(std::string& out, const std::string& path, const finding& f) {
    out += "::";
    out += f.level == severity::note ? "notice" : severity_name(f.level);
    out += " file=";
    out += github_escape(path, true);
    out += ",title=";
    out += github_escape(f.id, true);
    out += "::";
    out += github_escape(f.image >= 0 ? "image " + std::to_string(f.image) + ": " + f.message : f.message,
                         false);
    out += '\n';
}

// The path as a line of `format` shows it.
std::string shown_path(const std::string& path, output_format format) {
    switch (format) {
        case output_format::json: return json_string(path);
        case output_format::sarif: return uri_of(path);
        case output_format::github: return path;
        case output_format::text: break;
    }
    return escaped_name(path);
}

void line_of(std::string& out, const std::string& shown, const finding& f, const image_record* image,
             output_format format) {
    switch (format) {
        case output_format::json: json_line_of(out, shown, f, image); break;
        case output_format::github: github_line_of(out, shown, f); break;
        case output_format::sarif: sarif_result_of(out, shown, f, true); break;
        case output_format::text: text_line_of(out, shown, f); break;
    }
}

void sarif_start() {
    std::string out =
        "{\"version\":\"2.1.0\",\"$schema\":\"https://json.schemastore.org/"
        "sarif-2.1.0.json\",\"runs\":[{\"tool\":"
        "{\"driver\":{\"name\":\"icon-lint\",\"version\":\"" ICON_TOOLS_VERSION "\",\"rules\":[";
    for (std::size_t i = 0; i < CHECKS.size(); ++i) {
        if (i > 0) out += ',';
        out += "\n{\"id\":\"";
        out += CHECKS[i].id;
        out += "\",\"shortDescription\":{\"text\":";
        out += json_string(CHECKS[i].summary);
        out += "}}";
    }
    out += "]}},\"columnKind\":\"unicodeCodePoints\",\"results\":[\n";
    std::fputs(out.c_str(), stdout);
}

void sarif_end(bool successful) {
    std::fputs(successful ? "\n],\"invocations\":[{\"executionSuccessful\":true}]}]}\n"
                          : "\n],\"invocations\":[{\"executionSuccessful\":false}]}]}\n",
               stdout);
}

// The readers' table: the image each shows at each size ("!" after one it
// fails), and the images it fails.
void readers_text(std::string& out, const std::string& shown, const file_report& report) {
    out += shown;
    out += '\n';
    if (report.not_icon || report.images.empty()) {
        out += "  no reader picks an image: ";
        out += report.not_icon ? "the file is not an icon file\n" : "the file holds no image\n";
        return;
    }
    out += "          ";
    for (const std::int32_t size : COMMON_SIZES) {
        const std::string cell = std::to_string(size);
        out += std::string(5 - cell.size(), ' ') + cell;
    }
    out += "  fails\n";
    const auto row = [&](const char* name, int reader, const std::array<std::int32_t, SIZE_COUNT>& shows) {
        const std::string label = name;
        out += "  " + label + std::string(label.size() < 8 ? 8 - label.size() : 0, ' ');
        for (const std::int32_t index : shows) {
            std::string cell = index < 0 ? "-" : std::to_string(index);
            if (index >= 0 && (report.images[static_cast<std::size_t>(index)].facts.fails >> reader & 1) != 0)
                cell += '!';
            out += std::string(cell.size() < 5 ? 5 - cell.size() : 1, ' ') + cell;
        }
        std::string fails;
        for (std::size_t i = 0; i < report.images.size(); ++i) {
            if ((report.images[i].facts.fails >> reader & 1) == 0) continue;
            if (!fails.empty()) fails += ',';
            fails += std::to_string(i);
        }
        out += "  ";
        out += fails.empty() ? "-" : fails;
        out += '\n';
    };
    for (int reader = 0; reader < READER_COUNT; ++reader) {
        std::array<std::int32_t, SIZE_COUNT> shows{};
        for (std::size_t s = 0; s < SIZE_COUNT; ++s) shows[s] = shown_at(report.picks, reader, s);
        row(reader_name(reader), reader, shows);
        if (reader == 0 && report.picks.windows_file != report.picks.windows)
            row("  (file)", 0, report.picks.windows_file);
    }
}

void json_indices(std::string& out, const std::array<std::int32_t, SIZE_COUNT>& shows) {
    out += '[';
    for (std::size_t s = 0; s < SIZE_COUNT; ++s) {
        if (s > 0) out += ',';
        if (shows[s] < 0) {
            out += "null";
        } else {
            append_number(out, shows[s]);
        }
    }
    out += ']';
}

void readers_json(std::string& out, const std::string& quoted, const file_report& report) {
    out += "{\"path\":";
    out += quoted;
    out += ",\"sizes\":[16,24,32,48,64,256],\"readers\":";
    if (report.not_icon || report.images.empty()) {
        out += "null}\n";
        return;
    }
    out += '{';
    for (int reader = 0; reader < READER_COUNT; ++reader) {
        if (reader > 0) out += ',';
        out += '"';
        out += reader_key(reader);
        out += "\":{\"shows\":";
        std::array<std::int32_t, SIZE_COUNT> shows{};
        for (std::size_t s = 0; s < SIZE_COUNT; ++s) shows[s] = shown_at(report.picks, reader, s);
        json_indices(out, shows);
        if (reader == 0) {
            out += ",\"shows_from_file\":";
            json_indices(out, report.picks.windows_file);
        }
        out += ",\"fails\":[";
        bool first = true;
        for (std::size_t i = 0; i < report.images.size(); ++i) {
            if ((report.images[i].facts.fails >> reader & 1) == 0) continue;
            if (!first) out += ',';
            append_number(out, static_cast<long long>(i));
            first = false;
        }
        out += "]}";
    }
    out += "}}\n";
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

// The ids of --ignore; false with the first that is no check's.
bool parse_ids(std::string_view list, std::vector<std::string>& ids, std::string& unknown) {
    for (std::size_t start = 0;;) {
        const std::size_t comma = list.find(',', start);
        const std::string item(list.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (std::none_of(CHECKS.begin(), CHECKS.end(),
                         [&item](const check_info& c) { return item == c.id; })) {
            unknown = item;
            return false;
        }
        ids.push_back(item);
        if (comma == std::string_view::npos) return true;
        start = comma + 1;
    }
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "icon-lint: %s\nTry 'icon-lint --help' for more information.\n", message.c_str());
    return 2;
}

bool reported(const finding& f, const lint_command& command) {
    if (rank(f.level) > rank(command.least)) return false;
    return std::find(command.ignored.begin(), command.ignored.end(), f.id) == command.ignored.end();
}

// "2 errors", "1 warning".
std::string counted(long n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); }

}  // namespace

const std::vector<check_info>& lint_checks() { return CHECKS; }

std::string github_escape(const std::string& text, bool property) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8_sequence_length(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
            continue;
        }
        const char c = text[i];
        if (c == '%') {
            out += "%25";
        } else if (c == '\r') {
            out += "%0D";
        } else if (c == '\n') {
            out += "%0A";
        } else if (property && c == ':') {
            out += "%3A";
        } else if (property && c == ',') {
            out += "%2C";
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

std::string uri_of(const std::string& path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            out += static_cast<char>(c);
        } else if (c == '\\') {
            out += '/';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xFu];
        }
    }
    return out;
}

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

std::string format_readers(const std::string& path, const file_report& report, output_format format) {
    std::string out;
    if (format == output_format::json) {
        readers_json(out, json_string(path), report);
    } else {
        readers_text(out, escaped_name(path), report);
    }
    return out;
}

int lint_file(const std::string& path, const lint_command& command, run_state& state) {
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
    bool failed = false;
    file_report report;
    const bool read =
        lint_stream(stream.get(), command.options, report, [&](const finding& f, const image_record* image) {
            if (!reported(f, command)) return;
            failed = failed || rank(f.level) <= rank(command.fail_at);
            ++state.counts[rank(f.level)];
            if (command.readers) return;
            line.clear();
            if (command.format == output_format::sarif) {
                sarif_result_of(line, shown, f, state.results == 0);
                ++state.results;
            } else {
                line_of(line, shown, f, image, command.format);
            }
            std::fwrite(line.data(), 1, line.size(), stdout);
        });
    if (!read || std::ferror(stream.get()) != 0) {
        std::fprintf(stderr, "%s: error: cannot read: %s\n", escaped_name(path).c_str(),
                     errno != 0 ? std::strerror(errno) : "not a seekable file");
        return 2;
    }
    if (command.readers) {
        line = format_readers(path, report, command.format);
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return failed ? 1 : 0;
}

int lint_main(int argc, char** argv) {
    if (!secure_standard_streams()) return 2;
    lint_command command;
    command.options.pixels = examine_pixels;
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
        const bool takes_value = name == "--format" || name == "--require-sizes" || name == "--ignore" ||
                                 name == "--min-severity" || name == "--fail-on";
        if (takes_value) {
            if (equals != std::string_view::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                return usage_error("option '" + std::string(name) + "' requires an argument");
            }
        } else if (equals != std::string_view::npos &&
                   (name == "--help" || name == "--version" || name == "--readers")) {
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
        } else if (arg == "--readers") {
            command.readers = true;
        } else if (name == "--format") {
            if (value == "text") {
                command.format = output_format::text;
            } else if (value == "json") {
                command.format = output_format::json;
            } else if (value == "sarif") {
                command.format = output_format::sarif;
            } else if (value == "github") {
                command.format = output_format::github;
            } else {
                return usage_error("invalid format '" + std::string(value) +
                                   "' (text, json, sarif or github)");
            }
        } else if (name == "--require-sizes") {
            command.options.required_sizes.clear();
            if (!parse_sizes(value, command.options.required_sizes)) {
                return usage_error("invalid size list '" + std::string(value) +
                                   "' (sizes from 1 to 256, separated by commas)");
            }
        } else if (name == "--ignore") {
            std::string unknown;
            if (!parse_ids(value, command.ignored, unknown))
                return usage_error("unknown check '" + unknown + "' in --ignore");
        } else if (name == "--min-severity" || name == "--fail-on") {
            if (!parse_level(value, name == "--fail-on" ? command.fail_at : command.least)) {
                return usage_error("invalid severity '" + std::string(value) + "' (error, warning or note)");
            }
        } else {
            return usage_error("unrecognized option '" + std::string(arg) + "'");
        }
    }
    if (command.files.empty()) return usage_error("no input files");
    if (command.readers && command.format != output_format::text && command.format != output_format::json)
        return usage_error("--readers takes --format=text or --format=json");
    const bool sarif = command.format == output_format::sarif;
    if (sarif) sarif_start();
    run_state state;
    int status = 0;
    for (const std::string& path : command.files) status = std::max(status, lint_file(path, command, state));
    if (sarif) sarif_end(status != 2);
    if (command.format == output_format::text && !command.readers && command.files.size() > 1) {
        std::fprintf(stderr, "%zu files: %s, %s, %s\n", command.files.size(),
                     counted(state.counts[0], "error").c_str(), counted(state.counts[1], "warning").c_str(),
                     counted(state.counts[2], "note").c_str());
    }
    // A lost report is a failure even when every file was clean.
    const int finished = finish_standard_output(status);
    return finished == status ? status : std::max(status, 1);
}
