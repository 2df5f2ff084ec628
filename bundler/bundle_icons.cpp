#include "bundle_icons.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "icon_records.hpp"
#include "report.hpp"
#include "text_line.hpp"

char** program_argv = nullptr;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

std::FILE* open_input(int position) {
    const char* path = program_argv[position];
    std::FILE* stream = std::fopen(path, "rb");
    const int open_errno = errno;
    print_line(path);
    if (stream == nullptr) report_open_failure(open_errno);
    errno = open_errno;
    return stream;
}

void print_line(const char* text) { std::printf("%s\n", text); }

namespace {

enum class pass { scan, copy };

struct free_deleter {
    void operator()(void* block) const { std::free(block); }
};

// idCount is a 16-bit field.
constexpr std::int32_t max_icons = 65535;
// Every image offset must fit a signed 32-bit field whatever the final count:
// the images may fill what is left of 2^31 - 1 bytes after a header and a
// directory of 65535 entries.
constexpr std::int64_t max_total_bytes = std::int64_t{2147483647} - icon_dir_entry_offset(max_icons);

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

// A running FNV-1a hash of what a pass accepted: each image's input
// position, its index in that input, its 16 entry bytes and the 40 bytes
// read as its header. The copy pass arrives at the scan pass's value unless
// an input changed in between.
class acceptance_digest {
   public:
    void add(int position, std::int32_t index, const ICONDIRENTRY& entry, const BITMAPINFOHEADER& header) {
        add32(static_cast<std::uint32_t>(position));
        add32(static_cast<std::uint32_t>(index));
        for (const std::uint8_t byte : {entry.bWidth, entry.bHeight, entry.bColorCount, entry.bReserved})
            add8(byte);
        add16(entry.wPlanes);
        add16(entry.wBitCount);
        add32(static_cast<std::uint32_t>(entry.dwBytesInRes));
        add32(static_cast<std::uint32_t>(entry.dwImageOffset));
        for (const std::int32_t field : {header.biSize, header.biWidth, header.biHeight})
            add32(as_u32(field));
        add16(header.biPlanes);
        add16(header.biBitCount);
        for (const std::int32_t field : {header.biCompression, header.biSizeImage, header.biXPelsPerMeter,
                                         header.biYPelsPerMeter, header.biClrUsed, header.biClrImportant})
            add32(as_u32(field));
    }
    std::uint64_t value() const { return hash_; }

   private:
    static std::uint32_t as_u32(std::int32_t value) { return static_cast<std::uint32_t>(value); }
    void add8(std::uint8_t byte) { hash_ = (hash_ ^ byte) * 0x100000001B3u; }
    void add16(std::uint16_t value) {
        add8(static_cast<std::uint8_t>(value & 0xFFu));
        add8(static_cast<std::uint8_t>(value >> 8));
    }
    void add32(std::uint32_t value) {
        add16(static_cast<std::uint16_t>(value & 0xFFFFu));
        add16(static_cast<std::uint16_t>(value >> 16));
    }
    std::uint64_t hash_ = 0xCBF29CE484222325u;
};

// Writes out what the stream buffers, so that a failure is reported by the
// step that wrote the bytes rather than by the next seek or the close.
bool flushed(std::FILE* output) { return std::fflush(output) == 0; }

class bundler {
   public:
    bundler(int input_count, std::FILE* output) : input_count_(input_count), output_(output) {}

    int run() {
        walk(pass::scan);
        const std::int32_t scan_count = accepted_;
        const std::uint64_t scan_digest = digest_.value();
        if (!write_placeholder(scan_count)) return 0;
        walk(pass::copy);
        if (accepted_ != scan_count || digest_.value() != scan_digest) {
            report_error("input files changed during bundling");
            failed_ = true;
        }
        return finish(scan_count);
    }

   private:
    // The same walk in both passes; only the scan pass reports problems with
    // the inputs, and only the copy pass writes.
    void walk(pass which) {
        pass_ = which;
        accepted_ = 0;
        accepted_bytes_ = 0;
        digest_ = {};
        for (int position = 1; position <= input_count_; ++position) {
            const owned_stream input{open_input(position)};
            if (!input) {
                const int reason = errno;
                report_error("can't open input file");
                // Out of descriptors or memory says nothing about the input,
                // and the bundle would lack it for no fault of its own.
                if (reason == EMFILE || reason == ENFILE || reason == ENOMEM) failed_ = true;
                continue;
            }
            prepare_input(input.get(), input_buffer_);
            walk_input(position, input.get());
        }
    }

    void walk_input(int position, std::FILE* input) {
        ICONDIR dir{};
        if (read_icon_dir(input, dir) != IO_OK) {
            scan_error(CANT_READ_ICONDIR);
            return;
        }
        for (std::int32_t index = 0; index < std::int32_t{dir.idCount}; ++index) {
            ICONDIRENTRY entry{};
            if (stream_seek(input, SEEK_FROM_START, icon_dir_entry_offset(index)) != IO_OK ||
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
            digest_.add(position, index, entry, header);
            accepted_bytes_ += entry.dwBytesInRes;
            ++accepted_;
        }
    }

    void scan_error(const char* text) const {
        if (pass_ == pass::scan) report_error(text);
    }

    static void list(std::int32_t index, bool png, const BITMAPINFOHEADER& header) {
        text_line line;
        line.text("#").number(index, 4).text(": ");
        if (png) {
            line.text("PNG (Vista) icon\n").put(stdout);
            return;
        }
        line.number(header.biWidth, 4)
            .text(" x")
            .number(header.biHeight / 2, 4)
            .text(",")
            .number(header.biBitCount, 3)
            .text(header.biBitCount > 1 ? " bits/pixel\n" : " bit/pixel\n")
            .put(stdout);
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
        static_assert(sizeof(ICONDIRENTRY) == ICONDIRENTRY_SIZE);
        std::int32_t count = ICONDIRENTRY_SIZE * scan_count;
        if (stream_write(output_, &count, table_.data()) != IO_OK || !flushed(output_)) {
            report_error("can't write icon directory");
            return false;
        }
        output_position_ = icon_dir_entry_offset(scan_count);
        return true;
    }

    // Copies one image to the output position and records its entry. Every
    // accepted image gets its slot and entry, whatever fails on the way.
    void copy(std::FILE* input, ICONDIRENTRY entry) {
        const std::int32_t size = entry.dwBytesInRes;
        if (stream_seek(output_, SEEK_FROM_START, output_position_) != IO_OK) {
            report_error("can't seek to output position");
            failed_ = true;
        } else {
            copy_bytes(input, entry.dwImageOffset, size);
        }
        entry.dwImageOffset = output_position_;
        table_[static_cast<std::size_t>(accepted_)] = entry;
        output_position_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(output_position_) +
                                                     static_cast<std::uint32_t>(size));
    }

    // One image's bytes into its slot. The slot is written whole even when
    // the input ends early or no buffer can be had: the bytes it did not
    // deliver are written as zeros, and the run fails, so the directory
    // stays true and nobody ships the result.
    void copy_bytes(std::FILE* input, std::int32_t offset, std::int32_t size) {
        const std::int32_t held = deliverable(input, offset, size);
        // An input whose length cannot be measured is read through a block
        // of the unmeasured limit, so a claim it cannot back costs no more.
        const std::int32_t block = held >= 0 ? held : unmeasured_claim;
        const std::unique_ptr<std::uint8_t, free_deleter> buffer{
            static_cast<std::uint8_t*>(std::malloc(block == 0 ? 1 : static_cast<std::size_t>(block)))};
        if (!buffer) {
            report_error("can't get memory to read icon");
            failed_ = true;
            if (!write_zeros(size) || !flushed(output_)) report_error("can't write icon");
            return;
        }
        const std::int32_t readable = held >= 0 ? held : size;
        bool delivered = stream_seek(input, SEEK_FROM_START, offset) == IO_OK;
        bool written = true;
        std::int32_t done = 0;
        while (delivered && written && done < readable) {
            std::int32_t count = std::min(block, readable - done);
            delivered = stream_read(input, &count, buffer.get()) == IO_OK;
            // What was read goes out, whether or not the read was whole.
            written = stream_write(output_, &count, buffer.get()) == IO_OK;
            done += count;
        }
        if (!delivered || readable < size) {
            report_error("can't read icon");
            failed_ = true;
        }
        if (!written || !write_zeros(size - done) || !flushed(output_)) {
            report_error("can't write icon");
            failed_ = true;
        }
    }

    // How many of an image's `size` bytes its input can still deliver from
    // `offset`, or -1 when its length cannot be measured. Claims up to this
    // limit are taken at their word, which costs no system call; larger ones
    // are measured against the input's length, so a small file that claims
    // gigabytes costs no more memory than it holds.
    static constexpr std::int32_t unmeasured_claim = 1 << 20;
    static std::int32_t deliverable(std::FILE* input, std::int32_t offset, std::int32_t size) {
        if (size <= unmeasured_claim) return size;
        std::int64_t end = -1;
        if (stream_seek(input, SEEK_FROM_END, 0) != IO_OK || stream_tell(input, &end) != IO_OK || end < 0)
            return -1;
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(end - offset, 0, size));
    }

    // The part of a slot that its input cannot fill.
    bool write_zeros(std::int32_t count) {
        static const std::uint8_t zeros[65536] = {};
        while (count > 0) {
            std::int32_t chunk = std::min<std::int32_t>(count, std::int32_t{sizeof zeros});
            count -= chunk;
            if (stream_write(output_, &chunk, zeros) != IO_OK) return false;
        }
        return true;
    }

    // The final entries over the placeholder, written out at once; stops at
    // the first entry that fails.
    bool write_directory() {
        for (const ICONDIRENTRY& entry : table_) {
            if (write_icon_dir_entry(output_, entry) != IO_OK) return false;
        }
        return flushed(output_);
    }

    int finish(std::int32_t scan_count) {
        if (stream_seek(output_, SEEK_FROM_START, icon_dir_entry_offset(0)) != IO_OK) {
            report_error("can't seek to write first dir entry");
            return 0;
        }
        if (!write_directory()) {
            report_error("can't write ICONDIRENTRY");
            return 0;
        }
        if (scan_count == 0) {
            print_line("No icons found, wrote empty icon suite");
        } else {
            char summary[96];
            std::snprintf(summary, sizeof summary, "Bundled %d icons from %d input files.\n", scan_count,
                          input_count_);
            print_line(summary);
        }
        return failed_ ? 0 : 1;
    }

    char input_buffer_[INPUT_BUFFER_SIZE] = {};
    const int input_count_;
    std::FILE* const output_;
    pass pass_ = pass::scan;
    std::int32_t accepted_ = 0;
    std::int64_t accepted_bytes_ = 0;
    std::vector<ICONDIRENTRY> table_;
    std::int32_t output_position_ = 0;
    acceptance_digest digest_;
    // Set by a failure that spoils the output but lets the run go on.
    bool failed_ = false;
};

}  // namespace

int bundle_icons(int input_count, std::FILE* output) { return bundler(input_count, output).run(); }
