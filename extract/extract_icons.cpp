#include "extract_icons.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <utility>

#include "bitmap_png.hpp"
#include "escape.hpp"
#include "file_checks.hpp"
#include "icon_records.hpp"
#include "image_checks.hpp"
#include "json_text.hpp"
#include "names.hpp"
#include "pe_resources.hpp"
#include "platform.hpp"
#include "png_records.hpp"
#include "stream_io.hpp"

namespace {

// Every offset must fit the stream layer's signed 32-bit positions.
constexpr std::int64_t max_input_size = INT32_MAX;

// One line on standard error: "PATH: [WHERE: ]severity: message [id]".
void diagnose(const std::string& path, const std::string& where, severity level, const char* id,
              const std::string& message) {
    std::string line = escaped_name(path) + ": ";
    if (!where.empty()) line += where + ": ";
    line += severity_name(level);
    line += ": ";
    line += message;
    line += " [";
    line += id;
    line += "]\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

std::string with_reason(const char* text, int error) { return std::string(text) + std::strerror(error); }

std::string pixels(std::uint16_t bits) {
    return std::to_string(bits) + (bits == 1 ? " bit/pixel" : " bits/pixel");
}

// The image's own width or height in a directory field: 256 is written as 0.
std::uint8_t entry_dimension(std::int32_t value) { return static_cast<std::uint8_t>(value & 0xFF); }

// What one listing line says of a file written.
struct written_file {
    std::string output;
    std::string source;       // text: "image 2 of app.ico", "icon group 1 of app.exe"
    std::string json_image;   // JSON: the image's index, or the group's id or name
    std::int32_t entry = -1;  // an image of a PE group: its index in the group
    std::int32_t width = -1;  // -1: a group's file, of several images
    std::int32_t height = -1;
    std::int32_t bits = -1;
    std::int32_t images = 0;  // a group's file: its images
    bool cursor = false;
    std::uint16_t hotspot_x = 0;
    std::uint16_t hotspot_y = 0;
    bool png = true;  // the image was a PNG stream
    bool kept = true;
};

// An input being read, and what its images' names start with.
struct input_file {
    const char* path;
    std::FILE* stream;
    std::int64_t size;
    std::string stem;
};

// One image to write as a PNG file: where its bytes are and what they are.
struct image_source {
    std::string where;  // "image 2", or "icon group 1: image 2"
    std::string base;   // its file name without the extension
    std::string of;     // text: "image 2 of app.ico"
    std::string json_image;
    std::int32_t entry = -1;
    std::int64_t offset = 0;
    image_facts facts;
    bool cursor = false;
    std::uint16_t hotspot_x = 0;
    std::uint16_t hotspot_y = 0;
};

class extractor {
   public:
    explicit extractor(const extract_request& request) : request_(request) {}

    int run() {
        if (request_.directory != nullptr && !directory_is_usable()) return 1;
        for (const char* path : request_.inputs) {
            file_identity identity;
            if (identify_file(path, identity)) inputs_.push_back(identity);
        }
        for (const char* path : request_.inputs) extract_input(path);
        return failed_ ? 1 : 0;
    }

   private:
    bool directory_is_usable() {
        const char* problem = nullptr;
        switch (kind_of_path(request_.directory)) {
            case path_kind::directory: return true;
            case path_kind::missing: problem = "no such directory"; break;
            default: problem = "not a directory"; break;
        }
        diagnose(request_.directory, "", severity::error, "extract-directory", problem);
        return false;
    }

    void error(const std::string& path, const std::string& where, const char* id,
               const std::string& message) {
        diagnose(path, where, severity::error, id, message);
        failed_ = true;
    }

    void report(const std::string& path, const std::string& where, const finding& f) {
        diagnose(path, where, f.level, f.id, f.message);
        if (f.level == severity::error) failed_ = true;
    }

    void extract_input(const char* path) {
        if (std::strcmp(path, "-") == 0) {
            error(path, "", "extract-input", "standard input can't be an input; name a file");
            return;
        }
        errno = 0;
        const owned_stream stream{std::fopen(path, "rb")};
        if (!stream) {
            error(path, "", "extract-open", with_reason("can't open: ", errno));
            return;
        }
        prepare_input(stream.get(), input_buffer_);
        input_file input{path, stream.get(), -1, input_stem(path)};
        std::uint8_t head[4] = {};
        std::int32_t count = sizeof head;
        if (stream_seek(input.stream, SEEK_FROM_END, 0) != IO_OK ||
            stream_tell(input.stream, &input.size) != IO_OK || input.size < 0 ||
            stream_seek(input.stream, SEEK_FROM_START, 0) != IO_OK) {
            error(path, "", "extract-read", "can't read");
            return;
        }
        if (input.size > max_input_size) {
            error(path, "", "extract-too-large", "larger than 2 GiB, which no icon file or resource can be");
            return;
        }
        stream_read(input.stream, &count, head);
        if (count == 4 && head[0] == 0 && head[1] == 0 && (head[2] == 1 || head[2] == 2) && head[3] == 0) {
            extract_icon_file(input);
        } else if (count >= 2 && head[0] == 'M' && head[1] == 'Z') {
            extract_pe_file(input);
        } else if (count == 4 && std::memcmp(head, PNG_SIGNATURE, 4) == 0) {
            error(path, "", "extract-input", "a PNG file already; nothing to extract");
        } else {
            error(path, "", "extract-input", "not an icon, cursor or PE file");
        }
    }

    void extract_icon_file(input_file& input) {
        file_report checked;
        if (!lint_stream(input.stream, {}, checked)) {
            error(input.path, "", "extract-read", "can't read");
            return;
        }
        // The findings come file-wide first, then by image: one pass over
        // them, beside the images, reports each image's errors.
        auto next = checked.findings.begin();
        for (; next != checked.findings.end() && next->image < 0; ++next) {
            if (next->level == severity::error) report(input.path, "", *next);
        }
        const bool cursors = checked.id_type == 2;
        // The bytes of the images written, start to end and image: entries
        // that share them would multiply what is written past the file.
        std::map<std::int64_t, std::pair<std::int64_t, std::size_t>> taken;
        for (std::size_t i = 0; i < checked.images.size(); ++i) {
            const auto index = static_cast<std::int32_t>(i);
            const std::string where = "image " + std::to_string(i);
            bool clean = true;
            for (; next != checked.findings.end() && next->image == index; ++next) {
                if (next->level != severity::error) continue;
                report(input.path, where, *next);
                clean = false;
            }
            const image_record& image = checked.images[i];
            if (!clean || !image.entry_read) continue;
            const std::int64_t start = static_cast<std::uint32_t>(image.entry.dwImageOffset);
            const std::int64_t end = start + std::max<std::int64_t>(image.facts.size, 1);
            const auto after = taken.lower_bound(start);
            const auto before = after == taken.begin() ? taken.end() : std::prev(after);
            const auto shared = after != taken.end() && after->first < end              ? after
                                : before != taken.end() && before->second.first > start ? before
                                                                                        : taken.end();
            if (shared != taken.end()) {
                error(input.path, where, "extract-overlap",
                      "not written: its bytes overlap image " + std::to_string(shared->second.second) + "'s");
                continue;
            }
            taken.emplace(start, std::pair{end, i});
            image_source source;
            source.where = where;
            source.of = where + " of " + escaped_name(input.path);
            source.json_image = std::to_string(i);
            source.offset = static_cast<std::uint32_t>(image.entry.dwImageOffset);
            source.facts = image.facts;
            source.cursor = cursors;
            source.hotspot_x = image.entry.wPlanes;
            source.hotspot_y = image.entry.wBitCount;
            source.base =
                image_base(input.stem, index, image.facts.width, image.facts.height, image.facts.bit_count);
            write_image(input, source);
        }
    }

    void extract_pe_file(input_file& input) {
        pe_report walked;
        read_pe_resources(input.stream, input.size, walked);
        for (const finding& f : walked.findings) report(input.path, "", f);
        if (walked.groups.empty() && walked.findings.empty())
            diagnose(input.path, "", severity::note, "extract-no-groups", "holds no icon or cursor groups");
        for (const resource_group& group : walked.groups) {
            const std::string name = resource_name_text(group.name);
            const std::string label = (group.cursor ? "cursor group " : "icon group ") + escaped_name(name);
            bool clean = true;
            for (const finding& f : group.findings) {
                report(input.path, f.image >= 0 ? label + ": image " + std::to_string(f.image) : label, f);
                if (f.level == severity::error) clean = false;
            }
            if (!clean || group.images.empty()) continue;
            const std::string base = input.stem + "-" + name_part(name);
            const std::string json_name = group.name.text.empty() ? name : json_string(name);
            if (request_.png) {
                extract_group_images(input, group, label, base, json_name);
            } else {
                write_group(input, group, label, base, json_name);
            }
        }
    }

    // The directory entry an image of a group gets in an icon or cursor
    // file. An icon's is the group's entry; a cursor's is made from the
    // image (the group gives its height doubled and no colour count) and
    // the hotspot its resource starts with.
    ICONDIRENTRY entry_of(input_file& input, const resource_group& group, std::size_t index) {
        const group_image& image = group.images[index];
        const GRPICONDIRENTRY& g = image.entry;
        if (!group.cursor)
            return {g.bWidth, g.bHeight, g.bColorCount, g.bReserved, g.wPlanes, g.wBitCount, image.size, 0};
        std::vector<finding> ignored;
        const image_facts facts = examine_image(input.stream, static_cast<std::int32_t>(index), image.offset,
                                                image.size, image.size, ignored);
        const bool sized = facts.width > 0 && facts.height > 0;
        const std::int32_t width = sized ? facts.width : g.bWidth | g.bHeight << 8;
        const std::int32_t height = sized ? facts.height : (g.bColorCount | g.bReserved << 8) / 2;
        const std::uint8_t colours = facts.kind == image_kind::bitmap ? facts.color_count : 0;
        return {entry_dimension(width), entry_dimension(height), colours,    0,
                image.hotspot_x,        image.hotspot_y,         image.size, 0};
    }

    void write_group(input_file& input, const resource_group& group, const std::string& label,
                     const std::string& base, const std::string& json_name) {
        const std::string path = output_path(names_.unique(base, group.cursor ? ".cur" : ".ico"));
        const auto count = static_cast<std::int32_t>(group.images.size());
        std::vector<ICONDIRENTRY> entries;
        std::int32_t offset = icon_dir_entry_offset(count);
        for (std::size_t i = 0; i < group.images.size(); ++i) {
            entries.push_back(entry_of(input, group, i));
            entries.back().dwImageOffset = offset;
            offset += group.images[i].size;
        }
        const bool placed = place(path, [&](std::FILE* out) {
            const ICONDIR header{0, static_cast<std::uint16_t>(group.cursor ? 2 : 1),
                                 static_cast<std::uint16_t>(count)};
            bool written = write_icon_dir(out, header) == IO_OK;
            for (const ICONDIRENTRY& entry : entries)
                written = written && write_icon_dir_entry(out, entry) == IO_OK;
            if (!written) {
                error(path, "", "extract-write", with_reason("can't write: ", errno));
                return false;
            }
            for (std::size_t i = 0; i < group.images.size(); ++i) {
                const group_image& image = group.images[i];
                if (!copied(input, label + ": image " + std::to_string(i), image.offset, image.size, out,
                            path))
                    return false;
            }
            return true;
        });
        if (!placed) return;
        written_file listed;
        listed.output = path;
        listed.source = label + " of " + escaped_name(input.path);
        listed.json_image = json_name;
        listed.images = count;
        list(input, listed);
    }

    void extract_group_images(input_file& input, const resource_group& group, const std::string& label,
                              const std::string& base, const std::string& json_name) {
        for (std::size_t i = 0; i < group.images.size(); ++i) {
            const group_image& image = group.images[i];
            const auto index = static_cast<std::int32_t>(i);
            const std::string where = label + ": image " + std::to_string(i);
            const ICONDIRENTRY entry = entry_of(input, group, i);
            std::vector<finding> found;
            const image_facts facts =
                examine_image(input.stream, index, image.offset, image.size, image.size, found);
            check_entry(index, entry, group.cursor ? 2 : 1, facts, found);
            bool clean = true;
            for (const finding& f : found) {
                if (f.level != severity::error) continue;
                report(input.path, where, f);
                clean = false;
            }
            if (!clean) continue;
            image_source source;
            source.where = where;
            source.of = "image " + std::to_string(i) + " of " + label + " of " + escaped_name(input.path);
            source.json_image = json_name;
            source.entry = index;
            source.offset = image.offset;
            source.facts = facts;
            source.cursor = group.cursor;
            source.hotspot_x = image.hotspot_x;
            source.hotspot_y = image.hotspot_y;
            source.base = base + "-" + std::to_string(i) + "-" + std::to_string(facts.width) + "x" +
                          std::to_string(facts.height) + "-" + std::to_string(facts.bit_count);
            write_image(input, source);
        }
    }

    // A PNG image is written as it is stored, a bitmap image converted.
    void write_image(input_file& input, const image_source& source) {
        const image_facts& facts = source.facts;
        const std::int64_t available = input.size - source.offset;
        if (facts.kind == image_kind::unknown || facts.size <= 0 || facts.size > available) {
            error(input.path, source.where, "extract-image-end", "can't tell where the image ends");
            return;
        }
        std::vector<std::uint8_t> converted;
        if (facts.kind == image_kind::bitmap && !convert(input, source, converted)) return;
        const std::string path = output_path(names_.unique(source.base, ".png"));
        const bool png = facts.kind == image_kind::png;
        const bool placed = place(path, [&](std::FILE* out) {
            if (png) return copied(input, source.where, source.offset, facts.size, out, path);
            auto size = static_cast<std::int32_t>(converted.size());
            if (stream_write(out, &size, converted.data()) == IO_OK) return true;
            error(path, "", "extract-write", with_reason("can't write: ", errno));
            return false;
        });
        if (!placed) return;
        written_file listed;
        listed.output = path;
        listed.source = source.of;
        listed.json_image = source.json_image;
        listed.entry = source.entry;
        listed.width = facts.width;
        listed.height = facts.height;
        listed.bits = facts.bit_count;
        listed.images = 1;
        listed.cursor = source.cursor;
        listed.hotspot_x = source.hotspot_x;
        listed.hotspot_y = source.hotspot_y;
        listed.png = png;
        listed.kept = png;
        list(input, listed);
    }

    bool convert(input_file& input, const image_source& source, std::vector<std::uint8_t>& png) {
        // The checks have bounded a bitmap by its entry: at most 256 x 256
        // pixels of 32 bits with their mask, some 270 KB.
        std::vector<std::uint8_t> bitmap(static_cast<std::size_t>(source.facts.size));
        auto count = static_cast<std::int32_t>(bitmap.size());
        if (stream_seek(input.stream, SEEK_FROM_START, static_cast<std::int32_t>(source.offset)) != IO_OK ||
            stream_read(input.stream, &count, bitmap.data()) != IO_OK) {
            error(input.path, source.where, "extract-read", "can't read");
            return false;
        }
        std::string reason;
        if (bitmap_to_png(bitmap.data(), bitmap.size(), png, reason)) return true;
        error(input.path, source.where, "extract-convert", reason);
        return false;
    }

    // Copies `size` bytes from `offset` of the input in fixed blocks.
    bool copied(input_file& input, const std::string& where, std::int64_t offset, std::int64_t size,
                std::FILE* out, const std::string& path) {
        std::int64_t left = size;
        bool read = stream_seek(input.stream, SEEK_FROM_START, static_cast<std::int32_t>(offset)) == IO_OK;
        while (read && left > 0) {
            auto chunk = static_cast<std::int32_t>(std::min<std::int64_t>(left, sizeof block_));
            read = stream_read(input.stream, &chunk, block_) == IO_OK;
            if (!read) break;
            left -= chunk;
            if (stream_write(out, &chunk, block_) != IO_OK) {
                error(path, "", "extract-write", with_reason("can't write: ", errno));
                return false;
            }
        }
        if (!read) error(input.path, where, "extract-read", "can't read");
        return read;
    }

    std::string output_path(const std::string& name) const {
        if (request_.directory == nullptr) return name;
        std::string path = request_.directory;
        if (path.back() != '/') path += '/';
        return path + name;
    }

    // Writes a file beside `path` through `write` and renames it over
    // `path` once complete; `write` reports its own failures.
    template <typename Write>
    bool place(const std::string& path, Write&& write) {
        if (!replaceable(path)) return false;
        replacement out;
        switch (create_beside(path.c_str(), out)) {
            case create_status::created: break;
            case create_status::owner_not_kept:
                error(path, "", "extract-owner", "can't keep the owner of the existing file");
                return false;
            default:
                error(path, "", "extract-create", with_reason("can't create a file beside it: ", errno));
                return false;
        }
        if (!write(out.stream)) {
            give_up(out);
            return false;
        }
        if (!replace_with(out)) {
            error(path, "", "extract-write", with_reason("can't write: ", errno));
            return false;
        }
        return true;
    }

    // Nothing is at `path`, or a file that may be replaced: with --force,
    // neither an input nor where a standard stream goes, and writable.
    bool replaceable(const std::string& path) {
        const char* problem = nullptr;
        switch (kind_of_path(path.c_str())) {
            case path_kind::missing: return true;
            case path_kind::directory: problem = "can't be replaced: it is a directory"; break;
            case path_kind::other: problem = "can't be replaced: it is not a regular file"; break;
            case path_kind::regular_file: {
                if (!request_.force) {
                    error(path, "", "extract-exists", "exists; give --force to replace it");
                    return false;
                }
                file_identity identity;
                const bool known = identify_file(path.c_str(), identity);
                if (known && std::find(inputs_.begin(), inputs_.end(), identity) != inputs_.end()) {
                    problem = "can't be replaced: it is one of the inputs";
                } else if (path_matches_stream(path.c_str(), stdout) != file_match::different) {
                    problem = "can't be replaced: it is also standard output";
                } else if (path_matches_stream(path.c_str(), stderr) != file_match::different) {
                    problem = "can't be replaced: it is also standard error";
                } else if (!may_write(path.c_str())) {
                    // Read-only files are kept, though a rename could replace them.
                    problem = "can't be replaced: no permission to write to it";
                }
                break;
            }
        }
        if (problem == nullptr) return true;
        error(path, "", "extract-output", problem);
        return false;
    }

    void list(const input_file& input, const written_file& f) const {
        std::string line;
        if (request_.format == listing_format::json) {
            const auto number_or_null = [](std::int32_t value) {
                return value < 0 ? std::string("null") : std::to_string(value);
            };
            line = "{\"output\":" + json_string(f.output) + ",\"input\":" + json_string(input.path) +
                   ",\"image\":" + f.json_image + ",\"entry\":" + number_or_null(f.entry) +
                   ",\"width\":" + number_or_null(f.width) + ",\"height\":" + number_or_null(f.height) +
                   ",\"bits\":" + number_or_null(f.bits) + ",\"hotspot\":" +
                   (f.cursor && f.width >= 0
                        ? "[" + std::to_string(f.hotspot_x) + "," + std::to_string(f.hotspot_y) + "]"
                        : std::string("null")) +
                   ",\"kept\":" + (f.kept ? "true" : "false") + "}\n";
        } else {
            line = escaped_name(f.output) + ": " + f.source;
            if (f.width >= 0) {
                line += ", " + std::to_string(f.width) + " x " + std::to_string(f.height) + ", " +
                        pixels(static_cast<std::uint16_t>(f.bits));
                if (f.cursor)
                    line += ", hotspot " + std::to_string(f.hotspot_x) + ", " + std::to_string(f.hotspot_y);
                line += f.png ? ", PNG kept" : ", bitmap converted";
            } else {
                line += ", " + std::to_string(f.images) + (f.images == 1 ? " image" : " images") + ", kept";
            }
            line += "\n";
        }
        std::fwrite(line.data(), 1, line.size(), stdout);
    }

    char input_buffer_[INPUT_BUFFER_SIZE] = {};
    std::uint8_t block_[65536] = {};
    const extract_request& request_;
    std::vector<file_identity> inputs_;
    name_register names_;
    bool failed_ = false;
};

}  // namespace

int extract_icons(const extract_request& request) { return extractor(request).run(); }
