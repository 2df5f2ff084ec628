#include "image_checks.hpp"

#include <cstdarg>
#include <cstring>

#include "png_records.hpp"

namespace {

// The largest chunk length PNG allows (2^31 - 1).
constexpr std::uint32_t PNG_MAX_CHUNK = 0x7FFFFFFFu;
// What an entry's width and height bytes can say.
constexpr std::int32_t ENTRY_MAX_PIXELS = 256;
// Image bytes are read, and copied, through a block of this size.
constexpr std::int32_t BLOCK_SIZE = 65536;

bool is_letter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Samples per pixel of a PNG colour type; 0 for a type PNG does not define.
std::uint16_t png_channels(std::uint8_t color_type) {
    switch (color_type) {
        case 0: return 1;  // grey
        case 2: return 3;  // RGB
        case 3: return 1;  // palette index
        case 4: return 2;  // grey and alpha
        case 6: return 4;  // RGBA
        default: return 0;
    }
}

// An image's bytes, read in order from its start, each once. With a copy
// stream, every byte read is also written there, in the same order, so that
// the copy holds exactly the bytes the checks saw.
class image_source {
   public:
    image_source(std::FILE* stream, std::int64_t start, std::FILE* copy)
        : stream_(stream), start_(start), copy_(copy) {}

    // Reads exactly `count` bytes (at most BLOCK_SIZE) into `into`.
    bool read(std::uint8_t* into, std::int32_t count) {
        std::int32_t got = count;
        const bool whole = stream_read(stream_, &got, into) == IO_OK;
        consumed_ += got;
        return whole && put(into, count);
    }

    // Reads `count` bytes into the CRC register `crc`.
    bool crc(std::uint32_t count, std::uint32_t& crc) {
        std::uint8_t block[BLOCK_SIZE];
        while (count > 0) {
            const std::int32_t n =
                count < std::uint32_t{BLOCK_SIZE} ? static_cast<std::int32_t>(count) : BLOCK_SIZE;
            if (!read(block, n)) return false;
            crc = crc32_update(crc, block, static_cast<std::size_t>(n));
            count -= static_cast<std::uint32_t>(n);
        }
        return true;
    }

    // Goes over `count` bytes: sought over, or read through when copying.
    bool skip(std::int64_t count) {
        if (copy_ == nullptr) {
            consumed_ += count;
            return stream_seek64(stream_, start_ + consumed_) == IO_OK;
        }
        std::uint8_t block[BLOCK_SIZE];
        while (count > 0) {
            const std::int32_t n = count < BLOCK_SIZE ? static_cast<std::int32_t>(count) : BLOCK_SIZE;
            if (!read(block, n)) return false;
            count -= n;
        }
        return true;
    }

    std::int64_t consumed() const { return consumed_; }
    bool copy_failed() const { return copy_failed_; }

   private:
    bool put(const std::uint8_t* bytes, std::int32_t count) {
        if (copy_ == nullptr || copy_failed_) return !copy_failed_;
        std::int32_t n = count;
        copy_failed_ = stream_write(copy_, &n, bytes) != IO_OK;
        return !copy_failed_;
    }

    std::FILE* stream_;
    std::int64_t start_;
    std::FILE* copy_;
    std::int64_t consumed_ = 0;
    bool copy_failed_ = false;
};

void png_truncated(std::vector<finding>& out, std::int32_t index, std::int64_t at) {
    add_finding(out, index, at, severity::error, "image-truncated",
                finding_text("the file ends at byte %lld, inside the PNG stream and before its IEND chunk",
                             static_cast<long long>(at)));
}

// The checks that report at most once an image, however often their fault
// recurs, so that an image's findings stay few.
enum once : unsigned {
    ONCE_CRC = 1u << 0,
    ONCE_SECOND_IHDR = 1u << 1,
    ONCE_SPLIT = 1u << 2,
    ONCE_CRITICAL = 1u << 3,
};

// What the order of a PNG stream's chunks has shown so far.
struct chunk_order {
    unsigned reported = 0;         // once-only checks already reported
    std::int64_t idat_at = -1;     // the first IDAT chunk
    bool idat = false;             // an IDAT chunk has come
    std::int64_t after_idat = -1;  // where the first chunk after the IDAT chunks lies
    std::uint8_t after_type[4] = {};
    bool plte_before_idat = false;
    std::int64_t plte_at = -1;          // the first PLTE chunk
    std::int64_t plte_after_idat = -1;  // the first PLTE chunk after an IDAT chunk
    bool trns = false;                  // a tRNS chunk has come
};

bool first_time(chunk_order& order, once check) {
    if ((order.reported & check) != 0) return false;
    order.reported |= check;
    return true;
}

// The critical chunks PNG defines; another chunk whose first letter is upper
// case is one a decoder must understand and cannot.
bool known_critical(const PNG_CHUNK_HEADER& header) {
    return png_chunk_is(header, "IHDR") || png_chunk_is(header, "PLTE") || png_chunk_is(header, "IDAT") ||
           png_chunk_is(header, "IEND");
}

// The order rules of one chunk at byte `at`: the IDAT chunks consecutive, no
// critical chunk PNG does not define, where PLTE lies.
void check_chunk_order(const PNG_CHUNK_HEADER& header, std::int64_t at, chunk_order& order,
                       std::int32_t index, std::vector<finding>& out) {
    const bool idat = png_chunk_is(header, "IDAT");
    if (idat && order.after_idat >= 0 && first_time(order, ONCE_SPLIT)) {
        add_finding(out, index, at, severity::error, "png-idat-split",
                    finding_text("the IDAT chunks are not consecutive: a %.4s chunk at byte %lld lies "
                                 "between them",
                                 reinterpret_cast<const char*>(order.after_type),
                                 static_cast<long long>(order.after_idat)));
    }
    if (!idat && order.idat && order.after_idat < 0) {
        order.after_idat = at;
        std::memcpy(order.after_type, header.type, sizeof order.after_type);
    }
    if (idat && !order.idat) order.idat_at = at;
    order.idat = order.idat || idat;
    const bool critical = header.type[0] >= 'A' && header.type[0] <= 'Z';
    if (critical && !known_critical(header) && first_time(order, ONCE_CRITICAL)) {
        add_finding(out, index, at, severity::error, "png-unknown-critical",
                    finding_text("the %.4s chunk at byte %lld is critical (its first letter is upper case), "
                                 "but PNG does not define it",
                                 reinterpret_cast<const char*>(header.type), static_cast<long long>(at)));
    }
    if (png_chunk_is(header, "tRNS")) order.trns = true;
    if (png_chunk_is(header, "PLTE")) {
        if (order.plte_at < 0) order.plte_at = at;
        if (!order.idat) order.plte_before_idat = true;
        if (order.idat && order.plte_after_idat < 0) order.plte_after_idat = at;
    }
}

// IHDR's methods: PNG defines compression 0, filter 0 and interlace 0 or 1,
// and decoders refuse any other.
void check_ihdr_methods(const PNG_IHDR& ihdr, std::int64_t ihdr_data, std::int32_t index,
                        std::vector<finding>& out) {
    struct method {
        const char* name;
        std::uint8_t value;
        std::uint8_t largest;
        std::int64_t at;
    };
    const method methods[] = {{"compression", ihdr.compression, 0, ihdr_data + 10},
                              {"filter", ihdr.filter, 0, ihdr_data + 11},
                              {"interlace", ihdr.interlace, 1, ihdr_data + 12}};
    for (const method& m : methods) {
        if (m.value <= m.largest) continue;
        add_finding(out, index, m.at, severity::error, "png-ihdr-method",
                    finding_text("IHDR's %s method is %u; PNG defines only %s", m.name, unsigned{m.value},
                                 m.largest == 0 ? "0" : "0 and 1"));
    }
}

// Where PLTE lies against the colour type: a palette image needs it before
// its pixels; a grey image must not have one, nor any image after its pixels.
void check_palette(const PNG_IHDR& ihdr, const chunk_order& order, std::int32_t index,
                   std::vector<finding>& out) {
    if (ihdr.color_type == 3) {
        if (order.idat && !order.plte_before_idat) {
            add_finding(out, index, order.idat_at, severity::error, "png-palette",
                        "the palette image (colour type 3) has no PLTE chunk before its IDAT chunks");
        }
    } else if (ihdr.color_type == 0 || ihdr.color_type == 4) {
        if (order.plte_at >= 0) {
            add_finding(out, index, order.plte_at, severity::warning, "png-palette",
                        finding_text("a PLTE chunk at byte %lld in a grey image (colour type %u), which PNG "
                                     "forbids",
                                     static_cast<long long>(order.plte_at), unsigned{ihdr.color_type}));
        }
    } else if (order.plte_after_idat >= 0) {
        add_finding(out, index, order.plte_after_idat, severity::warning, "png-palette",
                    finding_text("the PLTE chunk at byte %lld follows the IDAT chunks; PNG puts it before",
                                 static_cast<long long>(order.plte_after_idat)));
    }
}

// Walks the chunks from just after the signature (at `offset` + 8) up to
// `limit` bytes from the image's start.
void walk_png(image_source& source, std::int32_t index, std::int64_t offset, std::int64_t limit,
              bool check_crcs, image_facts& facts, std::vector<finding>& out) {
    std::int64_t pos = PNG_SIGNATURE_SIZE;
    bool first = true;
    bool complete = false;
    chunk_order order;
    PNG_IHDR ihdr{};
    bool have_ihdr = false;
    for (;;) {
        const std::int64_t at = offset + pos;
        std::uint8_t head[PNG_CHUNK_HEADER_SIZE];
        if (limit - pos < PNG_CHUNK_HEADER_SIZE + PNG_CRC_SIZE || !source.read(head, PNG_CHUNK_HEADER_SIZE)) {
            png_truncated(out, index, offset + limit);
            break;
        }
        const PNG_CHUNK_HEADER header = png_chunk_header_from(head);
        const bool letters = is_letter(header.type[0]) && is_letter(header.type[1]) &&
                             is_letter(header.type[2]) && is_letter(header.type[3]);
        if (header.length > PNG_MAX_CHUNK || !letters) {
            add_finding(
                out, index, at, severity::error, "png-chunk",
                letters
                    ? finding_text("a chunk at byte %lld declares %lu bytes, more than PNG allows",
                                   static_cast<long long>(at), static_cast<unsigned long>(header.length))
                    : finding_text("the bytes at %lld are not a chunk header: its type is not four letters",
                                   static_cast<long long>(at)));
            break;
        }
        if (limit - pos - PNG_CHUNK_HEADER_SIZE - PNG_CRC_SIZE < std::int64_t{header.length}) {
            png_truncated(out, index, offset + limit);
            break;
        }
        const bool is_ihdr = png_chunk_is(header, "IHDR");
        if (first && !is_ihdr) {
            add_finding(out, index, at, severity::error, "png-no-ihdr",
                        "the PNG stream does not start with an IHDR chunk");
        }
        if (is_ihdr && (first ? header.length != PNG_IHDR_DATA_SIZE : first_time(order, ONCE_SECOND_IHDR))) {
            add_finding(out, index, at, severity::error, "png-chunk",
                        first ? finding_text("the IHDR chunk holds %lu bytes, not 13",
                                             static_cast<unsigned long>(header.length))
                              : std::string("a second IHDR chunk follows the first"));
        }
        check_chunk_order(header, at, order, index, out);
        std::uint32_t crc = crc32_update(0, header.type, sizeof header.type);
        bool passed = true;
        if (first && is_ihdr && header.length == PNG_IHDR_DATA_SIZE) {
            std::uint8_t data[PNG_IHDR_DATA_SIZE];
            passed = source.read(data, PNG_IHDR_DATA_SIZE);
            ihdr = png_ihdr_from(data);
            have_ihdr = passed;
            crc = crc32_update(crc, data, sizeof data);
        } else if (check_crcs) {
            passed = source.crc(header.length, crc);
        } else {
            passed = source.skip(std::int64_t{header.length});
        }
        std::uint8_t stored[PNG_CRC_SIZE];
        if (!passed || !source.read(stored, PNG_CRC_SIZE)) {
            png_truncated(out, index, offset + limit);
            break;
        }
        const std::uint32_t stored_crc = std::uint32_t{stored[0]} << 24 | std::uint32_t{stored[1]} << 16 |
                                         std::uint32_t{stored[2]} << 8 | std::uint32_t{stored[3]};
        // Only a chunk whose data was read has a CRC to compare: a first look
        // passes over the data of all but IHDR, and leaves every CRC to the
        // whole examination.
        if (check_crcs && stored_crc != crc && first_time(order, ONCE_CRC)) {
            // One is enough: a stream with a broken CRC is refused whole.
            // Decoders refuse a critical chunk (upper-case first letter) with a
            // broken CRC and drop an ancillary one.
            const bool critical = header.type[0] >= 'A' && header.type[0] <= 'Z';
            add_finding(
                out, index, at, critical ? severity::error : severity::warning, "png-crc",
                finding_text("the %.4s chunk at byte %lld has CRC %08lX, its bytes give %08lX",
                             reinterpret_cast<const char*>(header.type), static_cast<long long>(at),
                             static_cast<unsigned long>(stored_crc), static_cast<unsigned long>(crc)));
        }
        first = false;
        pos += PNG_CHUNK_HEADER_SIZE + std::int64_t{header.length} + PNG_CRC_SIZE;
        if (png_chunk_is(header, "IEND")) {
            facts.size = pos;
            complete = true;
            break;
        }
    }
    if (complete && !order.idat) {
        add_finding(out, index, offset + pos - PNG_CHUNK_HEADER_SIZE - PNG_CRC_SIZE, severity::error,
                    "png-no-idat", "the PNG stream has no IDAT chunk: no image data");
    }
    if (!have_ihdr) return;
    facts.width = static_cast<std::int32_t>(ihdr.width);
    facts.height = static_cast<std::int32_t>(ihdr.height);
    facts.bit_count = static_cast<std::uint16_t>(ihdr.bit_depth * png_channels(ihdr.color_type));
    const std::int64_t ihdr_at = offset + PNG_SIGNATURE_SIZE;
    if (ihdr.width > ENTRY_MAX_PIXELS || ihdr.height > ENTRY_MAX_PIXELS || ihdr.width == 0 ||
        ihdr.height == 0) {
        add_finding(
            out, index, ihdr_at, severity::error, "png-dimensions",
            finding_text("the PNG image is %lu x %lu pixels; an icon image has 1 to 256 on each side",
                         static_cast<unsigned long>(ihdr.width), static_cast<unsigned long>(ihdr.height)));
    }
    // Measured: Wine, Chromium, Firefox, Qt and ffmpeg decode every colour
    // type; Wine 8 refuses 16-bit samples, and shows palette images without
    // tRNS and RGB images (with or without a tRNS key) red and blue swapped.
    if (ihdr.bit_depth == 16) {
        add_finding(out, index, ihdr_at, severity::error, "png-not-rgba",
                    finding_text("the PNG image has 16-bit samples (colour type %u), which Windows (Wine 8) "
                                 "refuses to show",
                                 unsigned{ihdr.color_type}));
    } else if (ihdr.color_type == 2 || (ihdr.color_type == 3 && !order.trns)) {
        add_finding(
            out, index, ihdr_at, severity::warning, "png-not-rgba",
            finding_text("the PNG image is %s without alpha (colour type %u): Windows (Wine 8) shows "
                         "its red and blue swapped",
                         ihdr.color_type == 2 ? "RGB" : "a palette image", unsigned{ihdr.color_type}));
    }
    check_ihdr_methods(ihdr, ihdr_at + PNG_CHUNK_HEADER_SIZE, index, out);
    check_palette(ihdr, order, index, out);
}

bool known_bit_count(std::uint16_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

void examine_bitmap(const BITMAPINFOHEADER& header, std::int32_t index, std::int64_t offset,
                    std::int64_t limit, image_facts& facts, std::vector<finding>& out) {
    facts.kind = image_kind::bitmap;
    facts.width = header.biWidth;
    facts.stored_height = header.biHeight;
    facts.height = header.biHeight / 2;
    facts.bit_count = header.biBitCount;
    if (header.biSize != BITMAPINFOHEADER_SIZE) {
        add_finding(out, index, offset, severity::error, "bitmap-header-size",
                    finding_text("biSize is %ld, not 40", static_cast<long>(header.biSize)));
    }
    if (header.biWidth <= 0 || header.biHeight <= 0) {
        add_finding(
            out, index, offset + 4, severity::warning, "bitmap-dimensions",
            finding_text(
                "the bitmap is %ld x %ld (biHeight); an icon bitmap has positive sizes, stored bottom-up",
                static_cast<long>(header.biWidth), static_cast<long>(header.biHeight)));
    }
    if (header.biPlanes != 1) {
        add_finding(out, index, offset + 12, severity::warning, "bitmap-planes",
                    finding_text("biPlanes is %u, not 1", unsigned{header.biPlanes}));
    }
    if (!known_bit_count(header.biBitCount)) {
        add_finding(out, index, offset + 14, severity::error, "bitmap-bit-count",
                    finding_text("biBitCount is %u, not 1, 4, 8, 16, 24 or 32", unsigned{header.biBitCount}));
    }
    if (header.biCompression != 0) {
        add_finding(out, index, offset + 16, severity::error, "bitmap-compression",
                    finding_text("biCompression is %ld; icon bitmaps are uncompressed (0)",
                                 static_cast<long>(header.biCompression)));
    }
    if (header.biBitCount <= 8) {
        const std::int64_t table = std::int64_t{1} << header.biBitCount;
        if (header.biClrUsed < 0 || header.biClrUsed > table) {
            add_finding(out, index, offset + 32, severity::warning, "bitmap-palette",
                        finding_text("biClrUsed is %ld, more than the %lld colours of %u bits",
                                     static_cast<long>(header.biClrUsed), static_cast<long long>(table),
                                     unsigned{header.biBitCount}));
        }
        const std::int64_t colours =
            header.biClrUsed > 0 && header.biClrUsed <= table ? header.biClrUsed : table;
        facts.color_count = colours >= 256 ? 0 : static_cast<std::uint8_t>(colours);
    }
    facts.size = expected_image_size(header);
    const std::int64_t end = offset + limit;
    if (facts.size >= BITMAPINFOHEADER_SIZE && facts.size > limit) {
        add_finding(out, index, end, severity::error, "image-truncated",
                    finding_text("the file ends at byte %lld, %lld bytes into a bitmap of %lld bytes",
                                 static_cast<long long>(end), static_cast<long long>(limit),
                                 static_cast<long long>(facts.size)));
    }
}

}  // namespace

std::string finding_text(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

void add_finding(std::vector<finding>& out, std::int32_t index, std::int64_t offset, severity level,
                 const char* id, std::string message) {
    out.push_back(finding{index, offset, level, id, std::move(message)});
}

const char* severity_name(severity level) {
    switch (level) {
        case severity::error: return "error";
        case severity::warning: return "warning";
        case severity::note: return "note";
    }
    return "error";
}

const char* image_kind_name(image_kind kind) {
    switch (kind) {
        case image_kind::bitmap: return "bitmap";
        case image_kind::png: return "png";
        case image_kind::unknown: return "unknown";
    }
    return "unknown";
}

image_facts examine_image(std::FILE* stream, std::int32_t index, std::int64_t offset, std::int64_t available,
                          std::int32_t claimed_size, std::vector<finding>& out, image_pass& pass) {
    image_facts facts;
    const std::int64_t limit = available >= 0 ? available : std::int64_t{claimed_size};
    // Nothing of the image lies in the file: the directory's checks say so.
    if (offset < 0 || limit <= 0) return facts;
    if (stream_seek64(stream, offset) != IO_OK) {
        add_finding(out, index, offset, severity::error, "image-unreachable",
                    finding_text("the image at byte %lld can't be read: the file can't be positioned there",
                                 static_cast<long long>(offset)));
        return facts;
    }
    image_source source(stream, offset, pass.copy);
    // The first 4 bytes tell a PNG stream; a bitmap's header goes on to 40.
    std::uint8_t head[BITMAPINFOHEADER_SIZE] = {};
    const bool started = limit >= 4 && source.read(head, 4);
    if (started && std::memcmp(head, PNG_SIGNATURE, 4) == 0) {
        facts.kind = image_kind::png;
        if (limit < PNG_SIGNATURE_SIZE || !source.read(head + 4, PNG_SIGNATURE_SIZE - 4)) {
            png_truncated(out, index, offset + limit);
        } else if (std::memcmp(head, PNG_SIGNATURE, PNG_SIGNATURE_SIZE) != 0) {
            add_finding(out, index, offset, severity::error, "png-signature",
                        "the image starts like a PNG stream but its signature is damaged");
        } else {
            walk_png(source, index, offset, limit, pass.check_crcs, facts, out);
        }
    } else if (!started || limit < BITMAPINFOHEADER_SIZE ||
               !source.read(head + 4, BITMAPINFOHEADER_SIZE - 4)) {
        const std::int64_t end = offset + limit;
        add_finding(out, index, end, severity::error, "image-truncated",
                    finding_text("the file ends at byte %lld, before the end of the image's 40-byte header",
                                 static_cast<long long>(end)));
    } else {
        examine_bitmap(bitmap_info_header_from(head), index, offset, limit, facts, out);
        // The rows are not examined, but copied as they are read.
        if (pass.copy != nullptr && facts.size > BITMAPINFOHEADER_SIZE && facts.size <= limit)
            source.skip(facts.size - BITMAPINFOHEADER_SIZE);
    }
    facts.examined = source.consumed();
    pass.copy_failed = source.copy_failed();
    return facts;
}

image_facts examine_image(std::FILE* stream, std::int32_t index, std::int64_t offset, std::int64_t available,
                          std::int32_t claimed_size, std::vector<finding>& out) {
    image_pass whole;
    return examine_image(stream, index, offset, available, claimed_size, out, whole);
}

void check_entry(std::int32_t index, const ICONDIRENTRY& entry, std::uint16_t id_type,
                 const image_facts& facts, std::vector<finding>& out) {
    const std::int64_t at = icon_dir_entry_offset(index);
    const std::int32_t width = entry_pixels(entry.bWidth);
    const std::int32_t height = entry_pixels(entry.bHeight);
    if (entry.bReserved != 0) {
        add_finding(out, index, at + 3, severity::note, "entry-reserved",
                    finding_text("bReserved is %u, not 0", unsigned{entry.bReserved}));
    }
    if (facts.kind == image_kind::unknown) return;
    const bool sized = facts.width > 0;
    if (facts.kind == image_kind::png && sized && (facts.width != width || facts.height != height)) {
        add_finding(out, index, at, severity::error, "png-size-mismatch",
                    finding_text("the directory says %ld x %ld, the PNG image is %ld x %ld",
                                 static_cast<long>(width), static_cast<long>(height),
                                 static_cast<long>(facts.width), static_cast<long>(facts.height)));
    }
    if (facts.kind == image_kind::bitmap) {
        if (facts.stored_height == height && facts.width == width) {
            add_finding(
                out, index, at + 1, severity::error, "bitmap-height-not-doubled",
                finding_text("biHeight is %ld, the icon's height; it must be twice that, counting the mask",
                             static_cast<long>(facts.stored_height)));
        } else if (facts.width != width || facts.height != height) {
            add_finding(out, index, at, severity::error, "bitmap-size-mismatch",
                        finding_text("the directory says %ld x %ld, the bitmap header %ld x %ld",
                                     static_cast<long>(width), static_cast<long>(height),
                                     static_cast<long>(facts.width), static_cast<long>(facts.height)));
        }
    }
    if (facts.size >= 0 && std::int64_t{entry.dwBytesInRes} != facts.size) {
        const bool short_claim = std::int64_t{entry.dwBytesInRes} < facts.size;
        add_finding(out, index, at + 8, short_claim ? severity::error : severity::warning,
                    "entry-bytes-in-res",
                    finding_text("dwBytesInRes is %ld, the image %s %lld bytes",
                                 static_cast<long>(entry.dwBytesInRes),
                                 facts.kind == image_kind::png ? "stream spans" : "header implies",
                                 static_cast<long long>(facts.size)));
    }
    const std::uint8_t colours = facts.kind == image_kind::png ? 0 : facts.color_count;
    if (entry.bColorCount != colours) {
        add_finding(out, index, at + 2, severity::warning, "entry-color-count",
                    finding_text("bColorCount is %u, the image has %u (0 for 256 or more, or none)",
                                 unsigned{entry.bColorCount}, unsigned{colours}));
    }
    if (id_type == 2) {
        if (sized && facts.height > 0 &&
            (std::int32_t{entry.wPlanes} >= facts.width || std::int32_t{entry.wBitCount} >= facts.height)) {
            add_finding(out, index, at + 4, severity::warning, "cursor-hotspot",
                        finding_text("the hotspot (%u, %u) lies outside the %ld x %ld image",
                                     unsigned{entry.wPlanes}, unsigned{entry.wBitCount},
                                     static_cast<long>(facts.width), static_cast<long>(facts.height)));
        }
        return;
    }
    if (entry.wPlanes > 1) {
        add_finding(out, index, at + 4, severity::warning, "entry-planes",
                    finding_text("wPlanes is %u, not 0 or 1", unsigned{entry.wPlanes}));
    }
    if (entry.wBitCount != 0 && entry.wBitCount != facts.bit_count && facts.bit_count != 0) {
        add_finding(out, index, at + 6, severity::warning, "entry-bit-count",
                    finding_text("wBitCount is %u, the image has %u bits a pixel", unsigned{entry.wBitCount},
                                 unsigned{facts.bit_count}));
    }
}
