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

#include "icon_records.hpp"
#include "image_checks.hpp"
#include "platform.hpp"
#include "stream_io.hpp"

namespace {

// idCount is a 16-bit field.
constexpr std::size_t max_images = 65535;
// Every image offset must fit a signed 32-bit field.
constexpr std::int64_t max_file_size = 2147483647;
constexpr std::uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// One line on standard error: "PATH: [image N: ]severity: message [id]";
// `image` below zero leaves the image out, as for a PNG file, which is one.
__attribute__((format(printf, 5, 6))) void diagnose(const char* path, std::int32_t image, severity level,
                                                    const char* id, const char* format, ...) {
    char message[1024];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    const std::string where = image >= 0 ? "image " + std::to_string(image) + ": " : std::string();
    std::fprintf(stderr, "%s: %s%s: %s [%s]\n", path, where.c_str(), severity_name(level), message, id);
}

std::int32_t clamp32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, 0, max_file_size));
}

// The image's own width or height in a directory field: 256 is written as 0.
std::uint8_t entry_dimension(std::int32_t pixels) { return static_cast<std::uint8_t>(pixels & 0xFF); }

struct input_file {
    const char* path;
    std::int64_t size;  // at the scan: an input that changes before the copy is caught
};

struct planned_image {
    std::size_t input;
    std::int32_t index;   // in its input's directory; -1 for a PNG file
    std::int64_t offset;  // where its bytes start in its input
    ICONDIRENTRY entry;   // made from the image; dwImageOffset set when written
    std::int32_t width;
    std::int32_t height;
    std::uint16_t bit_count;
    bool png;
};

enum class file_kind { unknown, icons, cursors };

class packer {
   public:
    explicit packer(const pack_request& request) : request_(request) {}

    int run() {
        if (!output_is_usable()) return 1;
        for (const char* path : request_.inputs) scan_input(path);
        if (failed_) {
            diagnose(request_.output, -1, severity::error, "pack-not-written",
                     "not written, since the inputs have errors");
            return 1;
        }
        if (images_.empty()) {
            diagnose(request_.output, -1, severity::error, "pack-no-images",
                     "not written: no images to pack");
            return 1;
        }
        if (!request_.keep_order) order();
        if (!write()) return 1;
        if (!request_.quiet) list();
        return 0;
    }

   private:
    // The output must be a file that can be replaced, or none yet, and not a
    // stream the program writes its messages to.
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
                default: break;
            }
        }
        if (problem == nullptr) return true;
        diagnose(out, -1, severity::error, "pack-output", "can't be the output: %s", problem);
        return false;
    }

    // A file the program's messages go to would be replaced under them; one
    // whose identity cannot be told is refused as well.
    static const char* shared_with_console(const char* path) {
        if (path_matches_stream(path, stdout) != file_match::different) return "it is also standard output";
        if (path_matches_stream(path, stderr) != file_match::different) return "it is also standard error";
        return nullptr;
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
        std::uint8_t head[8] = {};
        std::int32_t count = sizeof head;
        stream_read(in, &count, head);
        inputs_.push_back({path, size});
        if (count == 8 && std::memcmp(head, png_signature, 8) == 0) {
            scan_png(in);
        } else if (count >= ICONDIR_SIZE && head[0] == 0 && head[1] == 0 && (head[2] == 1 || head[2] == 2) &&
                   head[3] == 0) {
            scan_icon_file(in);
        } else if (count >= 2 && head[0] == 'B' && head[1] == 'M') {
            // Its bitmap would need a doubled height and a mask added: not
            // the bytes as they are.
            error(path, -1, "pack-bmp", "a BMP file can't be packed as it is; convert it to PNG");
        } else {
            error(path, -1, "pack-input", "not a PNG, icon or cursor file");
        }
    }

    // Reports the image checks' findings; answers false when one is an error.
    bool report(std::int32_t image, const std::vector<finding>& found) {
        bool clean = true;
        for (const finding& f : found) {
            diagnose(inputs_.back().path, image, f.level, f.id, "%s", f.message.c_str());
            if (f.level == severity::error) clean = false;
        }
        if (!clean) failed_ = true;
        return clean;
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
        const image_facts facts = examine_image(in, -1, 0, input.size, clamp32(input.size), found);
        if (!report(-1, found)) return;
        if (facts.kind != image_kind::png || facts.size <= 0 || facts.size > input.size) {
            error(input.path, -1, "pack-png-end", "can't tell where the PNG stream ends");
            return;
        }
        if (facts.size < input.size)
            diagnose(input.path, -1, severity::note, "pack-trailing", "left out: %d bytes after IEND",
                     static_cast<int>(input.size - facts.size));
        add(-1, 0, icon_entry(facts), facts);
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
        for (std::int32_t index = 0; index < std::int32_t{dir.idCount}; ++index) {
            ICONDIRENTRY entry{};
            if (stream_seek(in, SEEK_FROM_START, icon_dir_entry_offset(index)) != IO_OK ||
                read_icon_dir_entry(in, entry) != IO_OK) {
                error(input.path, index, "pack-read", "can't read its directory entry");
                return;
            }
            if (entry.dwImageOffset < icon_dir_entry_offset(dir.idCount) ||
                entry.dwImageOffset >= input.size) {
                error(input.path, index, "pack-outside", "its offset lies outside the file's images");
                continue;
            }
            // The walk is bounded by the file, not by the entry's size, so
            // that an entry that understates it is corrected too.
            std::vector<finding> found;
            const std::int64_t available = input.size - entry.dwImageOffset;
            const image_facts facts =
                examine_image(in, index, entry.dwImageOffset, available, clamp32(available), found);
            if (!report(index, found)) continue;
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
            add(index, entry.dwImageOffset, made, facts);
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

    void add(std::int32_t index, std::int64_t offset, const ICONDIRENTRY& entry, const image_facts& facts) {
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
                     inputs_[first.input].path, source.c_str());
            return;
        }
        if (images_.size() >= max_images) {
            if (!too_many_) error(path, index, "pack-too-many", "more than 65535 images");
            too_many_ = true;
            return;
        }
        total_ += facts.size;
        if (total_ > max_file_size - icon_dir_entry_offset(static_cast<std::int32_t>(max_images))) {
            if (!too_large_) error(path, index, "pack-too-large", "the images add up to more than 2 GiB");
            too_large_ = true;
            return;
        }
        images_.push_back({input, index, offset, entry, facts.width, facts.height, facts.bit_count,
                           facts.kind == image_kind::png});
    }

    // Largest first, then deeper; images that tie keep the order given.
    void order() {
        std::stable_sort(images_.begin(), images_.end(), [](const planned_image& a, const planned_image& b) {
            if (a.width != b.width) return a.width > b.width;
            if (a.height != b.height) return a.height > b.height;
            return a.bit_count > b.bit_count;
        });
    }

    bool write() {
        std::string temporary;
        std::FILE* out = create_beside(request_.output, temporary);
        if (out == nullptr) {
            diagnose(request_.output, -1, severity::error, "pack-create", "can't create a file beside it: %s",
                     std::strerror(errno));
            return false;
        }
        const auto count = static_cast<std::int32_t>(images_.size());
        const ICONDIR dir{0, static_cast<std::uint16_t>(kind_ == file_kind::cursors ? 2 : 1),
                          static_cast<std::uint16_t>(count)};
        bool written = write_icon_dir(out, dir) == IO_OK;
        std::int32_t offset = icon_dir_entry_offset(count);
        for (planned_image& image : images_) {
            image.entry.dwImageOffset = offset;
            offset += image.entry.dwBytesInRes;
            written = written && write_icon_dir_entry(out, image.entry) == IO_OK;
        }
        if (!written) {
            const int reason = errno;
            stream_close(out);
            std::remove(temporary.c_str());
            diagnose(request_.output, -1, severity::error, "pack-write", "can't write: %s",
                     std::strerror(reason));
            return false;
        }
        // A failure to read an input has been reported by copy().
        bool copied = true;
        for (const planned_image& image : images_) {
            if (!copy(image, out)) {
                copied = false;
                break;
            }
        }
        current_.reset();
        if (!copied) {
            stream_close(out);
            std::remove(temporary.c_str());
            return false;
        }
        if (!replace_with(out, temporary, request_.output)) {
            diagnose(request_.output, -1, severity::error, "pack-write", "can't write: %s",
                     std::strerror(errno));
            return false;
        }
        return true;
    }

    // Copies one image in fixed blocks from its input, which stays open for
    // the images after it that come from the same file.
    bool copy(const planned_image& image, std::FILE* out) {
        const input_file& input = inputs_[image.input];
        if (!current_ || current_input_ != image.input) {
            current_.reset(std::fopen(input.path, "rb"));
            current_input_ = image.input;
            if (!current_) {
                diagnose(input.path, -1, severity::error, "pack-open", "can't open: %s",
                         std::strerror(errno));
                return false;
            }
            prepare_input(current_.get(), input_buffer_);
            std::int64_t size = -1;
            if (stream_seek(current_.get(), SEEK_FROM_END, 0) != IO_OK ||
                stream_tell(current_.get(), &size) != IO_OK || size != input.size) {
                diagnose(input.path, -1, severity::error, "pack-changed", "changed while it was packed");
                return false;
            }
        }
        std::int32_t left = image.entry.dwBytesInRes;
        bool read =
            stream_seek(current_.get(), SEEK_FROM_START, static_cast<std::int32_t>(image.offset)) == IO_OK;
        while (read && left > 0) {
            std::int32_t chunk = std::min<std::int32_t>(left, std::int32_t{sizeof block_});
            read = stream_read(current_.get(), &chunk, block_) == IO_OK;
            if (!read) break;
            left -= chunk;
            if (stream_write(out, &chunk, block_) != IO_OK) {
                diagnose(request_.output, -1, severity::error, "pack-write", "can't write: %s",
                         std::strerror(errno));
                return false;
            }
        }
        if (!read) diagnose(input.path, image.index, severity::error, "pack-read", "%s", "can't read");
        return read;
    }

    void list() const {
        std::int32_t position = 0;
        for (const planned_image& image : images_) {
            std::printf("#%4d: %4d x%4d,%3d %s  %-7s %s", static_cast<int>(position++),
                        static_cast<int>(image.width), static_cast<int>(image.height),
                        static_cast<int>(image.bit_count), image.bit_count == 1 ? "bit/pixel " : "bits/pixel",
                        image.png ? "PNG" : "bitmap", inputs_[image.input].path);
            if (image.index >= 0) std::printf(", image %d", static_cast<int>(image.index));
            std::printf("\n");
        }
        std::printf("Packed %d images from %d input files into %s.\n", static_cast<int>(images_.size()),
                    static_cast<int>(request_.inputs.size()), request_.output);
    }

    char input_buffer_[INPUT_BUFFER_SIZE] = {};
    std::uint8_t block_[65536] = {};
    const pack_request& request_;
    std::vector<input_file> inputs_;
    std::vector<planned_image> images_;
    // The first image of each width, height and depth: its place in images_.
    std::map<std::tuple<std::int32_t, std::int32_t, std::uint16_t>, std::size_t> kept_;
    file_kind kind_ = file_kind::unknown;
    std::int64_t total_ = 0;
    owned_stream current_;
    std::size_t current_input_ = 0;
    bool failed_ = false;
    bool too_many_ = false;
    bool too_large_ = false;
};

}  // namespace

int pack_icons(const pack_request& request) { return packer(request).run(); }
