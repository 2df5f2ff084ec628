#include "pack_icons.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "escape.hpp"
#include "file_checks.hpp"
#include "icon_bitmap.hpp"
#include "icon_records.hpp"
#include "image_checks.hpp"
#include "platform.hpp"
#include "png_codec.hpp"
#include "rgba_image.hpp"
#include "shrink.hpp"
#include "stream_io.hpp"
#include "svg_render.hpp"

namespace {

// idCount is a 16-bit field.
constexpr std::size_t max_images = 65535;
// Every image offset must fit a signed 32-bit field.
constexpr std::int64_t max_file_size = 2147483647;
constexpr std::uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The largest image an icon's directory entry can describe.
constexpr std::int32_t icon_max_side = 256;
// The first bytes looked at to tell what an input is: enough for an SVG
// document's byte order mark and leading blanks.
constexpr std::int32_t head_size = 64;

// One line on standard error: "PATH: [image N: ]severity: message [id]";
// `image` below zero leaves the image out, as for a PNG file, which is one.
// The path is shown escaped, so that no name can start a line of its own.
__attribute__((format(printf, 5, 6))) void diagnose(const char* path, std::int32_t image, severity level,
                                                    const char* id, const char* format, ...) {
    char message[1024];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    const std::string where = image >= 0 ? "image " + std::to_string(image) + ": " : std::string();
    std::fprintf(stderr, "%s: %s%s: %s [%s]\n", escaped_name(path).c_str(), where.c_str(),
                 severity_name(level), message, id);
}

// The bytes are copied as they are, so an image any reader fails is not
// packed, whatever the severity icon-lint gives it for that reader.
severity packing_level(const finding& f) { return f.effect.fails != 0 ? severity::error : f.level; }

std::int32_t clamp32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, 0, max_file_size));
}

// The image's own width or height in a directory field: 256 is written as 0.
std::uint8_t entry_dimension(std::int32_t pixels) { return static_cast<std::uint8_t>(pixels & 0xFF); }

// What the first look at an image saw, as one number: its facts and its
// findings (ids, places and severities). The copy must see the same again.
std::uint64_t look_of(const image_facts& facts, const std::vector<finding>& found) {
    std::uint64_t hash = 14695981039346656037u;  // FNV-1a
    const auto mix = [&hash](std::int64_t value) {
        for (int i = 0; i < 8; ++i) {
            hash = (hash ^ (static_cast<std::uint64_t>(value) >> (8 * i) & 0xFFu)) * 1099511628211u;
        }
    };
    mix(static_cast<std::int64_t>(facts.kind));
    for (const std::int64_t value :
         {std::int64_t{facts.width}, std::int64_t{facts.height}, std::int64_t{facts.stored_height},
          std::int64_t{facts.bit_count}, std::int64_t{facts.color_count}, facts.size}) {
        mix(value);
    }
    for (const finding& f : found) {
        if (std::strcmp(f.id, "png-crc") == 0) continue;
        for (const char* c = f.id; *c != '\0'; ++c) mix(*c);
        mix(f.offset);
        mix(static_cast<std::int64_t>(f.level));
    }
    return hash;
}

struct input_file {
    const char* path;
    std::int64_t size;  // at the first look: an input that changes before the copy is caught
    bool lost = false;  // found changed or gone at the copy
    bool svg = false;   // an SVG drawing, not an image
};

struct planned_image {
    std::size_t input;
    std::int32_t index;    // in its input's directory; -1 for a PNG or SVG file
    std::int64_t offset;   // where its bytes start in its input
    ICONDIRENTRY entry;    // made from the image; dwImageOffset set when written
    image_facts facts;     // from the first look, or of the bytes made
    std::uint64_t look;    // look_of the first look
    bool sixteen = false;  // a PNG image of 16-bit samples: written only as an image made from it
    // A made image: its bytes, and the size of what it was made from
    // (0 x 0 for an SVG drawing, which is drawn at the size made).
    bool made = false;
    std::vector<std::uint8_t> bytes = {};
    std::int32_t source_width = 0;
    std::int32_t source_height = 0;
    std::size_t rank = 0;  // its size's place among the sizes asked for
};

// One image to make: its size, its form, and its place among the sizes.
struct size_to_make {
    std::uint32_t width;
    std::uint32_t height;
    bool bitmap;
    std::size_t rank;
};

// Forwards each decoded row to several sinks, so that one decoding of a
// source feeds every size made from it.
class fan_out final : public rgba_row_sink {
   public:
    explicit fan_out(std::vector<rgba_row_sink*> sinks) : sinks_(std::move(sinks)) {}
    image_status begin(std::uint32_t width, std::uint32_t height) override {
        width_ = width;
        height_ = height;
        for (rgba_row_sink* sink : sinks_) {
            const image_status status = sink->begin(width, height);
            if (status != image_status::ok) return status;
        }
        return image_status::ok;
    }
    void row(std::uint32_t y, const std::uint8_t* rgba) override {
        for (rgba_row_sink* sink : sinks_) sink->row(y, rgba);
    }
    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }

   private:
    std::vector<rgba_row_sink*> sinks_;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
};

// What a made image's bytes say, as the first look tells it of an input's.
image_facts facts_of_made(const std::vector<std::uint8_t>& bytes, std::uint32_t width, std::uint32_t height,
                          bool bitmap) {
    image_facts facts;
    facts.kind = bitmap ? image_kind::bitmap : image_kind::png;
    facts.width = static_cast<std::int32_t>(width);
    facts.height = static_cast<std::int32_t>(height);
    facts.stored_height = bitmap ? 2 * facts.height : 0;
    facts.size = static_cast<std::int64_t>(bytes.size());
    facts.examined = facts.size;
    if (bitmap) {
        facts.bit_count = 32;
    } else {
        // IHDR's bit depth and colour type, at bytes 24 and 25 of the stream.
        static constexpr std::uint16_t channels[7] = {1, 0, 3, 1, 2, 0, 4};
        facts.bit_count = static_cast<std::uint16_t>(bytes[24] * channels[bytes[25] % 7]);
    }
    return facts;
}

enum class file_kind { unknown, icons, cursors };

// What the first look found of an image that is written only through an
// image made from it.
struct source_traits {
    bool large = false;    // a PNG file larger than an icon image: a source of sizes only
    bool sixteen = false;  // 16-bit samples
};

class packer {
   public:
    explicit packer(const pack_request& request) : request_(request) {}

    int run() {
        if (!output_is_usable()) return 1;
        // The first look: each input's images, their structure and what
        // their entries must say, chunk data passed over. Images that are
        // not written are examined whole here; those written are examined
        // whole while they are copied.
        for (const char* path : request_.inputs) scan_input(path);
        if (!failed_) plan();
        if (!failed_) make();
        if (!failed_ && images_.empty()) {
            diagnose(request_.output, -1, severity::error, "pack-no-images",
                     "not written: no images to pack");
            return 1;
        }
        order();
        const bool written = write();
        if (failed_) {
            diagnose(request_.output, -1, severity::error, "pack-not-written",
                     "not written, since the inputs have errors");
        }
        if (!written) return 1;
        if (!request_.quiet) list();
        return 0;
    }

   private:
    // The output must be a file that can be replaced, or none yet, and not a
    // stream the program writes its messages to, nor a file of another kind
    // that a forgotten output name would destroy.
    bool output_is_usable() const {
        const char* out = request_.output;
        const char* problem = nullptr;
        if (std::strcmp(out, "-") == 0) {
            problem = "it names standard output";
        } else {
            switch (kind_of_path(out)) {
                case path_kind::directory: problem = "is a directory"; break;
                case path_kind::other: problem = "is not a regular file"; break;
                case path_kind::regular_file: problem = shared_with_console(out); break;
                default: return true;
            }
        }
        if (problem == nullptr && !may_write(out)) problem = "no permission to write to it";
        if (problem != nullptr) {
            diagnose(out, -1, severity::error, "pack-output", "can't be the output: %s", problem);
            return false;
        }
        return holds_icons(out);
    }

    // A file the program's messages go to would be replaced under them; one
    // whose identity cannot be told is refused as well.
    static const char* shared_with_console(const char* path) {
        if (path_matches_stream(path, stdout) != file_match::different) return "it is also standard output";
        if (path_matches_stream(path, stderr) != file_match::different) return "it is also standard error";
        return nullptr;
    }

    // An existing output is replaced only when it is an icon or cursor file
    // (or empty): `icon-pack -o 16.png 32.png` must not destroy 16.png.
    static bool holds_icons(const char* path) {
        const owned_stream existing{std::fopen(path, "rb")};
        if (!existing) {
            diagnose(path, -1, severity::error, "pack-open", "can't open: %s", std::strerror(errno));
            return false;
        }
        std::uint8_t head[4] = {};
        std::int32_t count = sizeof head;
        stream_read(existing.get(), &count, head);
        if (count == 0 ||
            (count == 4 && head[0] == 0 && head[1] == 0 && (head[2] == 1 || head[2] == 2) && head[3] == 0))
            return true;
        diagnose(path, -1, severity::error, "pack-not-icon", "not an icon file; refusing to replace it");
        return false;
    }

    void error(const char* path, std::int32_t image, const char* id, const char* text) {
        diagnose(path, image, severity::error, id, "%s", text);
        failed_ = true;
    }

    void scan_input(const char* path) {
        if (std::strcmp(path, "-") == 0) {
            error(path, -1, "pack-input", "standard input can't be an input; name a file");
            return;
        }
        const owned_stream input{std::fopen(path, "rb")};
        if (!input) {
            diagnose(path, -1, severity::error, "pack-open", "can't open: %s", std::strerror(errno));
            failed_ = true;
            return;
        }
        std::FILE* const in = input.get();
        prepare_input(in, input_buffer_);
        std::int64_t size = -1;
        if (stream_seek(in, SEEK_FROM_END, 0) != IO_OK || stream_tell(in, &size) != IO_OK || size < 0 ||
            stream_seek(in, SEEK_FROM_START, 0) != IO_OK) {
            error(path, -1, "pack-read", "can't read");
            return;
        }
        if (size > max_file_size) {
            error(path, -1, "pack-too-large", "larger than an icon file can hold");
            return;
        }
        std::uint8_t head[head_size] = {};
        std::int32_t count = sizeof head;
        stream_read(in, &count, head);
        inputs_.push_back({path, size, false});
        if (count >= 8 && std::memcmp(head, png_signature, 8) == 0) {
            scan_png(in);
        } else if (looks_like_svg(head, static_cast<std::size_t>(count))) {
            scan_svg();
        } else if (count >= ICONDIR_SIZE && head[0] == 0 && head[1] == 0 && (head[2] == 1 || head[2] == 2) &&
                   head[3] == 0) {
            scan_icon_file(in);
        } else if (count >= 2 && head[0] == 'B' && head[1] == 'M') {
            // Its bitmap would need a doubled height and a mask added: not
            // the bytes as they are.
            error(path, -1, "pack-bmp", "a BMP file can't be packed as it is; convert it to PNG");
        } else {
            error(path, -1, "pack-input", "not a PNG, SVG, icon or cursor file");
        }
    }

    // Reports findings; answers false when one is an error.
    bool report(std::int32_t image, const std::vector<finding>& found) {
        bool clean = true;
        for (const finding& f : found) {
            const severity level = packing_level(f);
            diagnose(inputs_.back().path, image, level, f.id, "%s", f.message.c_str());
            if (level == severity::error) clean = false;
        }
        if (!clean) failed_ = true;
        return clean;
    }

    // The first look at one image: its structure, reported. `found` keeps
    // what was reported, for look_of.
    image_facts first_look(std::FILE* in, std::int32_t index, std::int64_t offset, std::int64_t available,
                           std::vector<finding>& found, bool& clean, source_traits& traits) {
        image_pass structure;
        structure.check_crcs = false;
        const image_facts facts =
            examine_image(in, index, offset, available, clamp32(available), found, structure);
        traits = set_aside(in, index, offset, facts, found);
        clean = report(index, found);
        const char* path = inputs_.back().path;
        if (traits.sixteen)
            diagnose(path, index, severity::note, "pack-16-bit",
                     "16-bit samples, which Windows (Wine 8) refuses: an image made from it with 8-bit "
                     "samples is written instead");
        if (traits.large && request_.sizes.empty()) {
            diagnose(path, index, severity::error, "pack-large",
                     "the PNG image is %d x %d pixels, larger than an icon image (256 at most): give --sizes "
                     "to make icon sizes from it",
                     static_cast<int>(facts.width), static_cast<int>(facts.height));
            clean = false;
        } else if (traits.large &&
                   !image_size_allowed(static_cast<std::uint32_t>(facts.width),
                                       static_cast<std::uint32_t>(facts.height), request_.source_limits)) {
            const image_limits& limits = request_.source_limits;
            diagnose(
                path, index, severity::error, "pack-large",
                "the PNG image is %d x %d pixels, beyond what a source may have: %lu a side, %llu pixels "
                "in all (%llu MiB of RGBA)",
                static_cast<int>(facts.width), static_cast<int>(facts.height),
                static_cast<unsigned long>(limits.max_side),
                static_cast<unsigned long long>(limits.max_pixels),
                static_cast<unsigned long long>(limits.max_pixels * 4 >> 20));
            clean = false;
        }
        if (!clean) failed_ = true;
        return facts;
    }

    // Findings that do not hold for an image written only through an image
    // made from it: a PNG file larger than an icon image (a source of
    // sizes), and 16-bit samples, which the shared checks call an error
    // (readers refuse them; an image of 8-bit samples is written instead).
    // Removes them from `found` and answers what the image is.
    static source_traits set_aside(std::FILE* in, std::int32_t index, std::int64_t offset,
                                   const image_facts& facts, std::vector<finding>& found) {
        source_traits traits;
        if (facts.kind != image_kind::png) return traits;
        traits.large = index < 0 && facts.width > 0 && facts.height > 0 &&
                       (facts.width > icon_max_side || facts.height > icon_max_side);
        const auto is = [&found](const char* id, severity level) {
            return std::any_of(found.begin(), found.end(), [id, level](const finding& f) {
                return std::strcmp(f.id, id) == 0 && f.level == level;
            });
        };
        // The one error png-not-rgba gives is for 16-bit samples; IHDR's bit
        // depth (byte 24 of the stream) confirms it.
        if (is("png-not-rgba", severity::error)) {
            std::uint8_t depth = 0;
            std::int32_t one = 1;
            traits.sixteen = stream_seek64(in, offset + 24) == IO_OK &&
                             stream_read(in, &one, &depth) == IO_OK && depth == 16;
        }
        found.erase(std::remove_if(found.begin(), found.end(),
                                   [&traits](const finding& f) {
                                       return (traits.large && std::strcmp(f.id, "png-dimensions") == 0) ||
                                              (traits.sixteen && std::strcmp(f.id, "png-not-rgba") == 0);
                                   }),
                    found.end());
        return traits;
    }

    // The rest of the examination of an image that is not written: its
    // CRCs, the one thing the first look leaves.
    void last_look(std::FILE* in, std::int32_t index, std::int64_t offset, std::int64_t available) {
        std::vector<finding> found;
        examine_image(in, index, offset, available, clamp32(available), found);
        found.erase(std::remove_if(found.begin(), found.end(),
                                   [](const finding& f) { return std::strcmp(f.id, "png-crc") != 0; }),
                    found.end());
        report(index, found);
    }

    bool same_kind(file_kind kind) {
        if (kind_ == file_kind::unknown) kind_ = kind;
        if (kind_ == kind) return true;
        error(inputs_.back().path, -1, "pack-mixed",
              kind == file_kind::cursors ? "a cursor file can't be packed with icons"
                                         : "icons can't be packed with cursors");
        return false;
    }

    void scan_png(std::FILE* in) {
        const input_file& input = inputs_.back();
        if (!same_kind(file_kind::icons)) return;
        std::vector<finding> found;
        bool clean = false;
        source_traits traits;
        const image_facts facts = first_look(in, -1, 0, input.size, found, clean, traits);
        if (!clean) {
            last_look(in, -1, 0, input.size);
            return;
        }
        if (facts.kind != image_kind::png || facts.size <= 0 || facts.size > input.size) {
            error(input.path, -1, "pack-png-end", "can't tell where the PNG stream ends");
            return;
        }
        if (facts.size < input.size)
            diagnose(input.path, -1, severity::note, "pack-trailing", "left out: %d bytes after IEND",
                     static_cast<int>(input.size - facts.size));
        if (!add(-1, 0, icon_entry(facts), facts, look_of(facts, found), traits.sixteen))
            last_look(in, -1, 0, input.size);
    }

    // An SVG drawing: every size not given is drawn from it.
    void scan_svg() {
        input_file& input = inputs_.back();
        input.svg = true;
        if (!same_kind(file_kind::icons)) return;
        if (request_.sizes.empty()) {
            error(input.path, -1, "pack-svg", "an SVG drawing needs --sizes, the sizes to draw it at");
        } else if (!svg_supported()) {
            error(input.path, -1, "pack-svg",
                  "this build has no SVG support (librsvg); give a PNG image of 256 pixels or more instead");
        } else if (svg_ < inputs_.size()) {
            error(input.path, -1, "pack-svg",
                  "a second SVG drawing: icon-pack draws every size it makes from one");
        } else {
            svg_ = inputs_.size() - 1;
        }
    }

    static ICONDIRENTRY icon_entry(const image_facts& facts) {
        return {entry_dimension(facts.width),
                entry_dimension(facts.height),
                facts.color_count,
                0,
                1,
                facts.bit_count,
                static_cast<std::int32_t>(facts.size),
                0};
    }

    // The images of an icon or cursor file, taken in the order of their
    // offsets, so that the file is read front to back: an image at the
    // offset of the one before shares its examination, and one that starts
    // inside bytes already examined is refused, not read again.
    void scan_icon_file(std::FILE* in) {
        const input_file& input = inputs_.back();
        ICONDIR dir{};
        if (stream_seek(in, SEEK_FROM_START, 0) != IO_OK || read_icon_dir(in, dir) != IO_OK) {
            error(input.path, -1, "pack-read", "can't read its header");
            return;
        }
        const bool cursors = dir.idType == 2;
        if (!same_kind(cursors ? file_kind::cursors : file_kind::icons)) return;
        if (dir.idCount == 0) diagnose(input.path, -1, severity::note, "pack-empty", "holds no images");
        std::vector<ICONDIRENTRY> entries(dir.idCount);
        for (std::size_t index = 0; index < entries.size(); ++index) {
            if (read_icon_dir_entry(in, entries[index]) != IO_OK) {
                error(input.path, static_cast<std::int32_t>(index), "pack-read",
                      "can't read its directory entry");
                entries.resize(index);
                break;
            }
        }
        std::vector<std::int32_t> by_offset;
        by_offset.reserve(entries.size());
        for (std::int32_t index = 0; index < static_cast<std::int32_t>(entries.size()); ++index) {
            const std::int32_t at = entries[static_cast<std::size_t>(index)].dwImageOffset;
            if (at < icon_dir_entry_offset(dir.idCount) || at >= input.size) {
                error(input.path, index, "pack-outside", "its offset lies outside the file's images");
                continue;
            }
            by_offset.push_back(index);
        }
        std::stable_sort(by_offset.begin(), by_offset.end(), [&entries](std::int32_t a, std::int32_t b) {
            return entries[static_cast<std::size_t>(a)].dwImageOffset <
                   entries[static_cast<std::size_t>(b)].dwImageOffset;
        });
        examination_plan plan;
        image_facts facts;
        std::uint64_t look = 0;
        bool clean = false;
        source_traits traits;
        for (const std::int32_t index : by_offset) {
            const ICONDIRENTRY& entry = entries[static_cast<std::size_t>(index)];
            const std::int64_t at = entry.dwImageOffset;
            // The walk is bounded by the file, not by the entry's size, so
            // that an entry that understates it is corrected too.
            const std::int64_t available = input.size - at;
            const examination_plan::step step = plan.next(at);
            if (step == examination_plan::step::inside) {
                diagnose(input.path, index, severity::error, "pack-overlap",
                         "its bytes start inside image %d's, which were examined already",
                         static_cast<int>(plan.owner()));
                failed_ = true;
                continue;
            }
            const bool shared = step == examination_plan::step::share;
            if (!shared) {
                std::vector<finding> found;
                facts = first_look(in, index, at, available, found, clean, traits);
                look = look_of(facts, found);
                // A bitmap's rows are not examined now, but read at the copy.
                plan.examined(index, at, image_end(at, facts, available));
                if (!clean) last_look(in, index, at, available);
            }
            // An image with errors was reported once, for its first entry.
            if (!clean) continue;
            if (facts.kind == image_kind::unknown || facts.size <= 0 || facts.size > available) {
                error(input.path, index, "pack-image-end", "can't tell where the image ends");
                continue;
            }
            ICONDIRENTRY made = icon_entry(facts);
            if (cursors) {
                // A cursor's hotspot stands where an icon has planes and depth.
                made.wPlanes = entry.wPlanes;
                made.wBitCount = entry.wBitCount;
            }
            if (!corrected(index, entry, made, dir.idType, facts)) continue;
            if (!add(index, at, made, facts, look, traits.sixteen) && !shared)
                last_look(in, index, at, available);
        }
    }

    // Notes every disagreement of the input's entry with the image that the
    // new entry corrects; what the new entry still has (a cursor's hotspot
    // outside its image, say) is reported as found. Answers false on an error.
    bool corrected(std::int32_t index, const ICONDIRENTRY& given, const ICONDIRENTRY& made,
                   std::uint16_t id_type, const image_facts& facts) {
        std::vector<finding> before;
        std::vector<finding> after;
        check_entry(index, given, id_type, facts, before);
        check_entry(index, made, id_type, facts, after);
        for (const finding& f : before) {
            const bool remains = std::any_of(after.begin(), after.end(),
                                             [&f](const finding& a) { return std::strcmp(a.id, f.id) == 0; });
            if (!remains)
                diagnose(inputs_.back().path, index, severity::note, "pack-corrected", "corrected: %s",
                         f.message.c_str());
        }
        return report(index, after);
    }

    // Plans the image to be written; answers false when it is not (a
    // duplicate, or one too many).
    bool add(std::int32_t index, std::int64_t offset, const ICONDIRENTRY& entry, const image_facts& facts,
             std::uint64_t look, bool sixteen) {
        const std::size_t input = inputs_.size() - 1;
        const char* path = inputs_[input].path;
        const auto [kept, fresh] =
            kept_.try_emplace(std::tuple{facts.width, facts.height, facts.bit_count}, images_.size());
        if (!fresh) {
            const planned_image& first = images_[kept->second];
            const std::string source =
                first.index >= 0 ? ", image " + std::to_string(first.index) : std::string();
            diagnose(path, index, severity::note, "pack-duplicate",
                     "skipped: %d x %d, %d bits/pixel already given by %s%s", static_cast<int>(facts.width),
                     static_cast<int>(facts.height), static_cast<int>(facts.bit_count),
                     escaped_name(inputs_[first.input].path).c_str(), source.c_str());
            return false;
        }
        if (images_.size() >= max_images) {
            if (!too_many_) error(path, index, "pack-too-many", "more than 65535 images");
            too_many_ = true;
            return false;
        }
        total_ += facts.size;
        if (total_ > max_file_size - icon_dir_entry_offset(static_cast<std::int32_t>(max_images))) {
            if (!too_large_) error(path, index, "pack-too-large", "the images add up to more than 2 GiB");
            too_large_ = true;
            return false;
        }
        images_.push_back({input, index, offset, entry, facts, look});
        images_.back().sixteen = sixteen;
        return true;
    }

    // Which images are written as they are and which sizes are made, and
    // from what. Without sizes asked for: every image as it is, but one of
    // 16-bit samples, which is made anew at its size. With sizes: for each,
    // the images of exactly that size; failing those the SVG drawing, or the
    // smallest square image larger than it (or as large, of 16-bit
    // samples), the deeper of two, the first given of two as deep.
    void plan() {
        given_ = std::move(images_);
        images_.clear();
        from_image_.assign(given_.size(), {});
        std::vector<bool> used(given_.size(), false);
        if (request_.sizes.empty()) {
            for (std::size_t k = 0; k < given_.size(); ++k) {
                const planned_image& image = given_[k];
                used[k] = true;
                if (!image.sixteen) {
                    images_.push_back(image);
                    continue;
                }
                const auto other =
                    std::find_if(given_.begin(), given_.end(), [&image](const planned_image& g) {
                        return !g.sixteen && g.facts.width == image.facts.width &&
                               g.facts.height == image.facts.height;
                    });
                if (other != given_.end()) {
                    used[k] = false;
                    continue;
                }
                from_image_[k].push_back({static_cast<std::uint32_t>(image.facts.width),
                                          static_cast<std::uint32_t>(image.facts.height), false, 0});
            }
        } else {
            for (std::size_t rank = 0; rank < request_.sizes.size(); ++rank) plan_size(rank, used);
        }
        for (std::size_t k = 0; k < given_.size(); ++k) {
            if (used[k]) continue;
            const planned_image& image = given_[k];
            if (request_.sizes.empty()) {
                diagnose(inputs_[image.input].path, image.index, severity::note, "pack-duplicate",
                         "skipped: %d x %d is given with 8-bit samples too",
                         static_cast<int>(image.facts.width), static_cast<int>(image.facts.height));
            } else {
                diagnose(inputs_[image.input].path, image.index, severity::note, "pack-left-out",
                         "left out: %d x %d is not among the sizes asked for",
                         static_cast<int>(image.facts.width), static_cast<int>(image.facts.height));
            }
            // Examined whole all the same, as every image not written is.
            copy(image, nullptr);
        }
        current_.reset();
    }

    void plan_size(std::size_t rank, std::vector<bool>& used) {
        const std::uint32_t side = request_.sizes[rank];
        const auto wanted = static_cast<std::int32_t>(side);
        bool kept = false;
        for (std::size_t k = 0; k < given_.size(); ++k) {
            const planned_image& image = given_[k];
            if (image.sixteen || image.facts.width != wanted || image.facts.height != wanted) continue;
            images_.push_back(image);
            images_.back().rank = rank;
            used[k] = true;
            kept = true;
        }
        if (kept) return;
        const bool bitmap = std::find(request_.bitmap_sizes.begin(), request_.bitmap_sizes.end(), side) !=
                            request_.bitmap_sizes.end();
        const size_to_make target{side, side, bitmap, rank};
        if (svg_ != SIZE_MAX) {
            from_svg_.push_back(target);
            return;
        }
        std::size_t best = SIZE_MAX;
        for (std::size_t k = 0; k < given_.size(); ++k) {
            const image_facts& f = given_[k].facts;
            if (f.width != f.height || f.width < wanted || (f.width == wanted && !given_[k].sixteen))
                continue;
            if (best == SIZE_MAX || f.width < given_[best].facts.width ||
                (f.width == given_[best].facts.width && f.bit_count > given_[best].facts.bit_count))
                best = k;
        }
        if (best == SIZE_MAX) {
            diagnose(request_.output, -1, severity::error, "pack-enlarge",
                     "can't make %d x %d: no input image is as large, and icon-pack never enlarges",
                     static_cast<int>(side), static_cast<int>(side));
            failed_ = true;
            return;
        }
        from_image_[best].push_back(target);
        used[best] = true;
    }

    // Makes every size planned, each source read once.
    void make() {
        for (std::size_t k = 0; k < given_.size() && !failed_; ++k) {
            if (!from_image_[k].empty()) make_from_image(given_[k], from_image_[k]);
        }
        if (!failed_ && !from_svg_.empty()) make_from_svg();
        given_.clear();
    }

    colour_space space_for(const size_to_make& target, const planned_image& source) const {
        const bool same = static_cast<std::int32_t>(target.width) == source.facts.width &&
                          static_cast<std::int32_t>(target.height) == source.facts.height;
        return request_.linear && !same ? colour_space::linear : colour_space::srgb;
    }

    // Decodes the image once, its rows going to a shrinking pass for each
    // size made from it: a PNG stream straight from its file, a bitmap
    // whole (its rows lie bottom up).
    void make_from_image(const planned_image& source, const std::vector<size_to_make>& targets) {
        const input_file& input = inputs_[source.input];
        const owned_stream stream{std::fopen(input.path, "rb")};
        if (!stream || stream_seek64(stream.get(), source.offset) != IO_OK) {
            diagnose(input.path, source.index, severity::error, "pack-open", "can't open: %s",
                     std::strerror(errno));
            failed_ = true;
            return;
        }
        std::vector<std::unique_ptr<image_shrinker>> shrinkers;
        std::vector<rgba_row_sink*> sinks;
        for (const size_to_make& t : targets) {
            shrinkers.push_back(std::make_unique<image_shrinker>(t.width, t.height, space_for(t, source)));
            sinks.push_back(shrinkers.back().get());
        }
        image_status status = image_status::ok;
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        if (source.facts.kind == image_kind::png) {
            fan_out fan(sinks);
            status = read_png(stream.get(), fan, request_.source_limits);
            width = fan.width();
            height = fan.height();
        } else if (!image_size_allowed(static_cast<std::uint32_t>(source.facts.width),
                                       static_cast<std::uint32_t>(source.facts.height),
                                       request_.source_limits)) {
            status = image_status::too_large;
        } else {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(source.facts.size));
            std::int32_t count = static_cast<std::int32_t>(bytes.size());
            rgba_image image;
            status = stream_read(stream.get(), &count, bytes.data()) == IO_OK
                         ? decode_icon_bitmap(bytes.data(), bytes.size(), image, request_.source_limits)
                         : image_status::truncated;
            width = image.width;
            height = image.height;
            const std::size_t stride = std::size_t{width} * 4;
            for (std::size_t n = 0; n < sinks.size() && status == image_status::ok; ++n) {
                status = sinks[n]->begin(width, height);
                for (std::uint32_t y = 0; y < height && status == image_status::ok; ++y)
                    sinks[n]->row(y, image.pixels.data() + stride * y);
            }
        }
        if (status == image_status::ok && (static_cast<std::int32_t>(width) != source.facts.width ||
                                           static_cast<std::int32_t>(height) != source.facts.height)) {
            changed(inputs_[source.input]);
            return;
        }
        if (status != image_status::ok) {
            diagnose(input.path, source.index, severity::error, "pack-decode", "can't decode its image: %s",
                     image_status_text(status));
            failed_ = true;
            return;
        }
        for (std::size_t n = 0; n < targets.size(); ++n) {
            rgba_image made;
            status = shrinkers[n]->finish(made);
            if (status == image_status::ok) status = finish_made(source, targets[n], made);
            if (status != image_status::ok) {
                diagnose(input.path, source.index, severity::error, "pack-decode", "can't make %d x %d: %s",
                         static_cast<int>(targets[n].width), static_cast<int>(targets[n].height),
                         image_status_text(status));
                failed_ = true;
                return;
            }
        }
    }

    // Draws the SVG input at each size asked for.
    void make_from_svg() {
        const input_file& input = inputs_[svg_];
        std::vector<std::uint8_t> document;
        const owned_stream stream{std::fopen(input.path, "rb")};
        if (stream) {
            document.resize(static_cast<std::size_t>(input.size));
            std::int32_t count = static_cast<std::int32_t>(document.size());
            if (stream_read(stream.get(), &count, document.data()) != IO_OK) {
                changed(inputs_[svg_]);
                return;
            }
        }
        if (!stream) {
            diagnose(input.path, -1, severity::error, "pack-open", "can't open: %s", std::strerror(errno));
            failed_ = true;
            return;
        }
        planned_image source{svg_, -1, 0, {}, {}, 0};
        for (const size_to_make& target : from_svg_) {
            rgba_image drawn;
            std::string reason;
            image_status status =
                render_svg(document.data(), document.size(), target.width, target.height, drawn, reason);
            if (status == image_status::ok) status = finish_made(source, target, drawn);
            if (status != image_status::ok) {
                diagnose(input.path, -1, severity::error, "pack-svg", "can't draw it: %s",
                         reason.empty() ? image_status_text(status) : reason.c_str());
                failed_ = true;
                return;
            }
        }
    }

    // Encodes a made image and plans it for writing.
    image_status finish_made(const planned_image& source, const size_to_make& target,
                             const rgba_image& image) {
        std::vector<std::uint8_t> bytes;
        const image_status status =
            target.bitmap ? encode_icon_bitmap(image, bytes) : encode_png(image, bytes, png_use::icon);
        if (status != image_status::ok) return status;
        planned_image made{source.input, source.index, source.offset, {}, {}, 0};
        made.facts = facts_of_made(bytes, target.width, target.height, target.bitmap);
        made.entry = icon_entry(made.facts);
        made.made = true;
        made.bytes = std::move(bytes);
        made.source_width = inputs_[source.input].svg ? 0 : source.facts.width;
        made.source_height = inputs_[source.input].svg ? 0 : source.facts.height;
        made.rank = target.rank;
        images_.push_back(std::move(made));
        return image_status::ok;
    }

    // Largest first, then deeper; or, kept in order, as given: inputs in
    // the order named, an icon file's images in the order of its directory.
    void order() {
        if (request_.keep_order) {
            std::stable_sort(
                images_.begin(), images_.end(), [](const planned_image& a, const planned_image& b) {
                    return std::tie(a.rank, a.input, a.index) < std::tie(b.rank, b.input, b.index);
                });
            return;
        }
        std::stable_sort(images_.begin(), images_.end(), [](const planned_image& a, const planned_image& b) {
            if (a.facts.width != b.facts.width) return a.facts.width > b.facts.width;
            if (a.facts.height != b.facts.height) return a.facts.height > b.facts.height;
            return a.facts.bit_count > b.facts.bit_count;
        });
    }

    // The second look: each image written is examined whole (every CRC) as
    // it is copied, in the output's order, so that what is written is
    // exactly what was examined. After the first look found an error, or
    // once copying fails, the images are still examined, to report every
    // error, but not copied. Answers true when the output is in place.
    bool write() {
        const bool writing = !failed_;
        if (writing && !create()) return false;
        bool copying = writing;
        if (copying) {
            const auto count = static_cast<std::int32_t>(images_.size());
            const ICONDIR dir{0, static_cast<std::uint16_t>(kind_ == file_kind::cursors ? 2 : 1),
                              static_cast<std::uint16_t>(count)};
            copying = write_icon_dir(output_.stream, dir) == IO_OK;
            std::int32_t offset = icon_dir_entry_offset(count);
            for (planned_image& image : images_) {
                image.entry.dwImageOffset = offset;
                offset += image.entry.dwBytesInRes;
                copying = copying && write_icon_dir_entry(output_.stream, image.entry) == IO_OK;
            }
            if (!copying) write_failed();
        }
        for (const planned_image& image : images_) {
            if (image.made) {
                std::int32_t count = static_cast<std::int32_t>(image.bytes.size());
                if (copying && stream_write(output_.stream, &count, image.bytes.data()) != IO_OK) {
                    write_failed();
                    copying = false;
                }
                continue;
            }
            if (!copy(image, copying ? output_.stream : nullptr)) copying = false;
        }
        current_.reset();
        if (!writing) return false;
        if (!copying || failed_) {
            give_up(output_);
            return false;
        }
        if (!replace_with(output_)) {
            diagnose(request_.output, -1, severity::error, "pack-write", "can't write: %s",
                     std::strerror(errno));
            return false;
        }
        return true;
    }

    // The temporary output beside the final one, with the final one's owner.
    bool create() {
        switch (create_beside(request_.output, output_)) {
            case create_status::created: return true;
            case create_status::owner_not_kept:
                diagnose(request_.output, -1, severity::error, "pack-owner",
                         "can't keep the owner of the existing file");
                return false;
            default:
                diagnose(request_.output, -1, severity::error, "pack-create",
                         "can't create a file beside it: %s", std::strerror(errno));
                return false;
        }
    }

    void write_failed() {
        if (!write_reported_)
            diagnose(request_.output, -1, severity::error, "pack-write", "can't write: %s",
                     std::strerror(errno));
        write_reported_ = true;
    }

    // Examines one image whole while copying it to `out` (when not null),
    // from its input, which stays open for the images after it that come
    // from the same file. Answers false on any error, or when the image is
    // not what the first look saw.
    bool copy(const planned_image& image, std::FILE* out) {
        input_file& input = inputs_[image.input];
        if (input.lost) return false;
        if (!current_ || current_input_ != image.input) {
            current_.reset(std::fopen(input.path, "rb"));
            current_input_ = image.input;
            if (!current_) {
                diagnose(input.path, -1, severity::error, "pack-open", "can't open: %s",
                         std::strerror(errno));
                input.lost = true;
                failed_ = true;
                return false;
            }
            prepare_input(current_.get(), input_buffer_);
            std::int64_t size = -1;
            if (stream_seek(current_.get(), SEEK_FROM_END, 0) != IO_OK ||
                stream_tell(current_.get(), &size) != IO_OK || size != input.size) {
                changed(input);
                current_.reset();
                return false;
            }
        }
        std::vector<finding> found;
        image_pass whole;
        whole.copy = out;
        const image_facts facts =
            examine_image(current_.get(), image.index, image.offset, input.size - image.offset,
                          clamp32(input.size - image.offset), found, whole);
        set_aside(current_.get(), image.index, image.offset, facts, found);
        if (whole.copy_failed) {
            write_failed();
            return false;
        }
        if (look_of(facts, found) != image.look || (out != nullptr && facts.examined != facts.size)) {
            changed(input);
            return false;
        }
        // The CRCs are what the first look left; what else it found was reported then.
        std::vector<finding> crcs;
        for (const finding& f : found)
            if (std::strcmp(f.id, "png-crc") == 0) crcs.push_back(f);
        bool clean = true;
        for (const finding& f : crcs) {
            const severity level = packing_level(f);
            diagnose(input.path, image.index, level, f.id, "%s", f.message.c_str());
            if (level == severity::error) clean = false;
        }
        if (!clean) failed_ = true;
        return clean;
    }

    // An input that is not what the first look saw is reported once; its
    // other images are not examined again.
    void changed(input_file& input) {
        diagnose(input.path, -1, severity::error, "pack-changed", "changed while it was packed");
        input.lost = true;
        failed_ = true;
    }

    void list() const {
        std::int32_t position = 0;
        for (const planned_image& image : images_) {
            std::printf("#%4d: %4d x%4d,%3d %s  %-7s %s%s", static_cast<int>(position++),
                        static_cast<int>(image.facts.width), static_cast<int>(image.facts.height),
                        static_cast<int>(image.facts.bit_count),
                        image.facts.bit_count == 1 ? "bit/pixel " : "bits/pixel",
                        image.facts.kind == image_kind::png ? "PNG" : "bitmap",
                        image.made ? "made from " : "", escaped_name(inputs_[image.input].path).c_str());
            if (image.index >= 0) std::printf(", image %d", static_cast<int>(image.index));
            if (image.made && image.source_width == 0) std::printf(" (SVG)");
            if (image.made && image.source_width > 0)
                std::printf(" (%d x %d)", static_cast<int>(image.source_width),
                            static_cast<int>(image.source_height));
            std::printf("\n");
        }
        const auto made = std::count_if(images_.begin(), images_.end(),
                                        [](const planned_image& image) { return image.made; });
        const std::string made_text = made > 0 ? " (" + std::to_string(made) + " made)" : std::string();
        std::printf("Packed %d images%s from %d input files into %s.\n", static_cast<int>(images_.size()),
                    made_text.c_str(), static_cast<int>(request_.inputs.size()),
                    escaped_name(request_.output).c_str());
    }

    char input_buffer_[INPUT_BUFFER_SIZE] = {};
    const pack_request& request_;
    std::vector<input_file> inputs_;
    std::vector<planned_image> images_;
    // The first image of each width, height and depth: its place in images_.
    std::map<std::tuple<std::int32_t, std::int32_t, std::uint16_t>, std::size_t> kept_;
    file_kind kind_ = file_kind::unknown;
    std::int64_t total_ = 0;
    replacement output_;
    owned_stream current_;
    std::size_t current_input_ = 0;
    bool failed_ = false;
    bool write_reported_ = false;
    bool too_many_ = false;
    bool too_large_ = false;
    std::size_t svg_ = SIZE_MAX;  // the SVG input, when there is one
    // The sizes to make from each image of images_ (by its place before
    // planning, in `given_`), and from the SVG input.
    std::vector<planned_image> given_;
    std::vector<std::vector<size_to_make>> from_image_;
    std::vector<size_to_make> from_svg_;
};

}  // namespace

int pack_icons(const pack_request& request) { return packer(request).run(); }
