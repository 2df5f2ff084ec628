#include "bundle_icons.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "icon_records.hpp"
#include "report.hpp"

char** program_argv = nullptr;

std::FILE* open_input(int position) {
    const char* path = program_argv[position];
    std::FILE* stream = std::fopen(path, "rb");
    const int open_errno = errno;
    print_line(path);
    if (stream == nullptr) {
        errno = open_errno;
        std::perror("open failed");
    }
    return stream;
}

void print_line(const char* text) { std::printf("%s\n", text); }

namespace {

enum class pass { scan, copy };

struct free_deleter {
    void operator()(void* block) const { std::free(block); }
};

// Every image offset must fit a signed 32-bit field whatever the final count:
// the images may fill what is left of 2^31 - 1 bytes after a header and a
// directory of 65535 entries.
constexpr std::int64_t max_total_bytes = 2147483647 - 6 - 16 * 65535;
constexpr std::int32_t max_icons = 65535;

bool is_accepted_depth(std::uint16_t bit_count) {
    switch (bit_count) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32: return true;
        default: return false;
    }
}

// The test a bitmap image must pass; PNG images are taken as they are.
bool passes_acceptance_test(const ICONDIRENTRY& entry, const BITMAPINFOHEADER& header) {
    return is_accepted_depth(header.biBitCount) && header.biWidth <= 256 && header.biHeight <= 512 &&
           header.biHeight % 2 == 0 && entry.dwBytesInRes == expected_image_size(header);
}

class bundler {
   public:
    bundler(int input_count, std::FILE* output) : input_count_(input_count), output_(output) {}

    int run() {
        walk(pass::scan);
        const std::int32_t scan_count = accepted_;
        if (!write_placeholder(scan_count)) return 0;
        walk(pass::copy);
        return finish(scan_count);
    }

   private:
    // The same walk in both passes; only the scan pass reports problems with
    // the inputs, and only the copy pass writes.
    void walk(pass which) {
        pass_ = which;
        accepted_ = 0;
        accepted_bytes_ = 0;
        for (int position = 1; position <= input_count_; ++position) {
            const owned_stream input{open_input(position)};
            if (!input) {
                report_error("can't open input file");
                continue;
            }
            std::setvbuf(input.get(), input_buffer_, _IOFBF, sizeof input_buffer_);
            walk_input(input.get());
        }
    }

    void walk_input(std::FILE* input) {
        ICONDIR dir{};
        if (read_icon_dir(input, dir) != IO_OK) {
            scan_error("can't read ICONDIR");
            return;
        }
        for (std::int32_t index = 0; index < std::int32_t{dir.idCount}; ++index) {
            ICONDIRENTRY entry{};
            if (stream_seek(input, SEEK_FROM_START, 6 + 16 * index) != IO_OK ||
                read_icon_dir_entry(input, entry) != IO_OK ||
                stream_seek(input, SEEK_FROM_START, entry.dwImageOffset) != IO_OK) {
                scan_error("can't read ICONDIRENTRY; skipping file");
                return;
            }
            BITMAPINFOHEADER header{};
            if (read_bitmap_info_header(input, header) != IO_OK) {
                scan_error("can't read BITMAPINFOHEADER; skipping file");
                return;
            }
            const bool png = is_png_image(header);
            if (!png && !passes_acceptance_test(entry, header)) {
                scan_error("invalid BITMAPINFOHEADER; skipping icon");
                continue;
            }
            if (entry.dwBytesInRes < 0 || accepted_bytes_ + entry.dwBytesInRes > max_total_bytes) {
                scan_error("image size out of range; skipping icon");
                continue;
            }
            if (accepted_ >= max_icons) {
                scan_error("more than 65535 icons; skipping icon");
                continue;
            }
            if (pass_ == pass::scan) {
                list(index, png, header);
            } else if (static_cast<std::size_t>(accepted_) < table_.size()) {
                // An input that gained images since the scan gets no entry
                // beyond the directory already written.
                copy(input, entry);
            }
            accepted_bytes_ += entry.dwBytesInRes;
            ++accepted_;
        }
    }

    void scan_error(const char* text) const {
        if (pass_ == pass::scan) report_error(text);
    }

    static void list(std::int32_t index, bool png, const BITMAPINFOHEADER& header) {
        if (png) {
            std::printf("#%4d: PNG (Vista) icon\n", index);
            return;
        }
        std::printf("#%4d: %4ld x%4ld,%3d bit%s/pixel\n", index, static_cast<long>(header.biWidth),
                    static_cast<long>(header.biHeight / 2), static_cast<int>(header.biBitCount),
                    header.biBitCount > 1 ? "s" : "");
    }

    // The header and a directory of zeros, so the images can follow at once.
    bool write_placeholder(std::int32_t scan_count) {
        try {
            table_.assign(static_cast<std::size_t>(scan_count), ICONDIRENTRY{});
        } catch (const std::bad_alloc&) {
            report_error("can't calloc()!");
            return false;
        }
        stream_seek(output_, SEEK_FROM_START, 0);
        const ICONDIR dir{0, 1, static_cast<std::uint16_t>(scan_count)};
        if (write_icon_dir(output_, dir) != IO_OK) {
            report_error("can't write ICONDIR");
            return false;
        }
        // The table is all zeros here, so its bytes are the placeholder.
        static_assert(sizeof(ICONDIRENTRY) == 16);
        std::int32_t count = 16 * scan_count;
        if (stream_write(output_, &count, table_.data()) != IO_OK) {
            report_error("can't write icon directory");
            return false;
        }
        output_position_ = 6 + 16 * scan_count;
        return true;
    }

    // Copies one image to the output position and records its entry. Every
    // accepted image gets its slot and entry, whatever fails on the way.
    void copy(std::FILE* input, ICONDIRENTRY entry) {
        const std::int32_t size = entry.dwBytesInRes;
        if (stream_seek(output_, SEEK_FROM_START, output_position_) != IO_OK) {
            report_error("can't seek to output position");
            copy_failed_ = true;
        } else {
            copy_bytes(input, entry.dwImageOffset, size);
        }
        entry.dwImageOffset = output_position_;
        table_[static_cast<std::size_t>(accepted_)] = entry;
        output_position_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(output_position_) +
                                                     static_cast<std::uint32_t>(size));
    }

    // One image's bytes through a buffer of its size. A short input still
    // fills its whole slot: what it did not deliver is written as zeros.
    void copy_bytes(std::FILE* input, std::int32_t offset, std::int32_t size) {
        // Only what a short read leaves undelivered is cleared: the allocator
        // reuses freed blocks, and clearing every image would cost a pass
        // over its bytes.
        const std::unique_ptr<std::uint8_t, free_deleter> buffer{
            static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : static_cast<std::size_t>(size)))};
        if (!buffer) {
            report_error("can't get memory to read icon");
            copy_failed_ = true;
            return;
        }
        std::int32_t count = 0;
        if (stream_seek(input, SEEK_FROM_START, offset) == IO_OK) {
            count = size;
            if (stream_read(input, &count, buffer.get()) != IO_OK) report_error("can't read icon");
        } else {
            report_error("can't read icon");
        }
        std::memset(buffer.get() + count, 0, static_cast<std::size_t>(size - count));
        count = size;
        if (stream_write(output_, &count, buffer.get()) != IO_OK) {
            report_error("can't write icon");
            copy_failed_ = true;
        }
    }

    int finish(std::int32_t scan_count) {
        if (stream_seek(output_, SEEK_FROM_START, 6) != IO_OK) {
            report_error("can't seek to write first dir entry");
            return 0;
        }
        for (const ICONDIRENTRY& entry : table_) {
            if (write_icon_dir_entry(output_, entry) != IO_OK) {
                report_error("can't write ICONDIRENTRY");
                return 0;
            }
        }
        if (scan_count == 0) {
            print_line("No icons found, wrote empty icon suite");
        } else {
            char summary[96];
            std::snprintf(summary, sizeof summary, "Bundled %d icons from %d input files.\n", scan_count,
                          input_count_);
            print_line(summary);
        }
        return copy_failed_ ? 0 : 1;
    }

    // Each seek of an input costs a system call, and one that leaves the
    // stream's buffer a read as well: this buffer holds a small icon file
    // whole, its directory and image headers together.
    char input_buffer_[16384];
    const int input_count_;
    std::FILE* const output_;
    pass pass_ = pass::scan;
    std::int32_t accepted_ = 0;
    std::int64_t accepted_bytes_ = 0;
    std::vector<ICONDIRENTRY> table_;
    std::int32_t output_position_ = 0;
    bool copy_failed_ = false;
};

}  // namespace

int bundle_icons(int input_count, std::FILE* output) { return bundler(input_count, output).run(); }
