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
// The old OS/2 header of 12 bytes, which Windows still reads.
constexpr std::int32_t CORE_HEADER_SIZE = 12;

// What the readers do with an image whose bytes they can't read at all.
constexpr reader_effect ALL_FAIL{ALL_READERS};
// The same for a PNG image: GNOME reads no PNG image of an icon, so it
// doesn't count.
constexpr reader_effect PNG_FAILS{ALL_READERS & ~GNOME};

}  // namespace

const char* png_colour_phrase(bool swapped, bool key_lost) {
    if (swapped && key_lost)
        return "Windows shows it with red and blue swapped and its transparent pixels opaque";
    if (swapped) return "Windows shows it with red and blue swapped";
    if (key_lost) return "Windows shows its transparent pixels opaque";
    return "every reader shows it";
}

bool png_without_alpha(std::uint8_t color_type, std::uint8_t depth, bool trns) {
    switch (color_type) {
        case 2: return true;
        case 0: return depth == 8 || !trns;
        case 3: return !trns;
        default: return false;
    }
}

namespace {

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

// True for the bit depths PNG allows with a colour type.
bool png_depth_allowed(std::uint8_t color_type, std::uint8_t depth) {
    switch (color_type) {
        case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case 2:
        case 4:
        case 6: return depth == 8 || depth == 16;
        default: return false;
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
    add_finding(out, index, at, PNG_FAILS, "image-truncated",
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
    bool ihdr_seen = false;             // an IHDR chunk has come
    std::int64_t first_at = -1;         // where the stream's first chunk lies
    std::uint8_t first_type[4] = {};
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
        // Measured with a tEXt chunk between two IDAT chunks.
        add_finding(out, index, at, reader_effect{WINDOWS | CHROME | FIREFOX | QT}, "png-idat-split",
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
        // Before the pixels every reader but Chrome's stops at it; after
        // them Firefox and Qt still refuse the image.
        const reader_effect effect{order.idat ? reader_set{FIREFOX | QT}
                                              : reader_set{WINDOWS | CHROME | FIREFOX | QT}};
        add_finding(out, index, at, effect, "png-unknown-critical",
                    finding_text("the %.4s chunk at byte %lld is critical (its first letter is upper case), "
                                 "but PNG does not define it",
                                 reinterpret_cast<const char*>(header.type), static_cast<long long>(at)));
    }
    if (png_chunk_is(header, "PLTE")) {
        if (order.plte_at < 0) order.plte_at = at;
        if (!order.idat) order.plte_before_idat = true;
        if (order.idat && order.plte_after_idat < 0) order.plte_after_idat = at;
    }
}

// IHDR's colour type and depth, and its methods: PNG defines compression 0,
// filter 0 and interlace 0 or 1, and decoders refuse any other. False when
// the pixels can't be decoded.
bool check_ihdr(const PNG_IHDR& ihdr, std::int64_t ihdr_data, std::int32_t index, std::vector<finding>& out) {
    bool usable = true;
    if (!png_depth_allowed(ihdr.color_type, ihdr.bit_depth)) {
        add_finding(out, index, ihdr_data + 8, reader_effect{WINDOWS | CHROME | FIREFOX | QT},
                    "png-ihdr-format",
                    finding_text("IHDR's colour type %u at %u bits a sample is no combination PNG defines",
                                 unsigned{ihdr.color_type}, unsigned{ihdr.bit_depth}));
        usable = false;
    }
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
        add_finding(out, index, m.at, reader_effect{WINDOWS | CHROME | FIREFOX | QT}, "png-ihdr-method",
                    finding_text("IHDR's %s method is %u; PNG defines only %s", m.name, unsigned{m.value},
                                 m.largest == 0 ? "0" : "0 and 1"));
        usable = false;
    }
    return usable;
}

// Where PLTE lies against the colour type: a palette image needs it before
// its pixels; a grey image must not have one, nor any image after its
// pixels, though no reader minds.
bool check_palette(const PNG_IHDR& ihdr, const chunk_order& order, std::int32_t index,
                   std::vector<finding>& out) {
    if (ihdr.color_type == 3) {
        if (order.idat && !order.plte_before_idat) {
            add_finding(out, index, order.idat_at, reader_effect{WINDOWS | CHROME | FIREFOX | QT},
                        "png-palette",
                        "the palette image (colour type 3) has no PLTE chunk before its IDAT chunks");
            return false;
        }
    } else if (ihdr.color_type == 0 || ihdr.color_type == 4) {
        if (order.plte_at >= 0) {
            add_finding(out, index, order.plte_at, reader_effect{}, "png-palette",
                        finding_text("a PLTE chunk at byte %lld in a grey image (colour type %u), which PNG "
                                     "forbids",
                                     static_cast<long long>(order.plte_at), unsigned{ihdr.color_type}));
        }
    } else if (order.plte_after_idat >= 0) {
        add_finding(out, index, order.plte_after_idat, reader_effect{}, "png-palette",
                    finding_text("the PLTE chunk at byte %lld follows the IDAT chunks; PNG puts it before",
                                 static_cast<long long>(order.plte_after_idat)));
    }
    return true;
}

const char* const PNG_KINDS[] = {
    "a grey image", "", "an RGB image", "a palette image", "a grey image with alpha", "", "an RGBA image"};

// Whether the pixels are stored as every reader shows them. Windows (Wine)
// refuses 16-bit samples, and makes a 24-bit bitmap of an image that ends
// up without alpha (RGB, palette without tRNS, 8-bit grey, or grey without
// tRNS): with red and blue swapped, an 8-bit grey or RGB image's tRNS
// ignored, and refused where its rows' padding is more than the room it
// leaves for a mask. The other kinds every reader shows, though the
// format's documentation asks for 8-bit RGBA.
void check_colour_type(const PNG_IHDR& ihdr, bool trns, std::int64_t ihdr_at, std::int32_t index,
                       std::vector<finding>& out) {
    if (ihdr.bit_depth == 8 && ihdr.color_type == 6) return;
    const char* kind = PNG_KINDS[ihdr.color_type];
    if (ihdr.bit_depth == 16) {
        add_finding(out, index, ihdr_at, reader_effect{WINDOWS}, "png-not-rgba",
                    finding_text("the PNG image is %s of 16 bits a sample (colour type %u)", kind,
                                 unsigned{ihdr.color_type}));
        return;
    }
    const std::string problem = finding_text("the PNG image is %s without alpha (colour type %u at %u bits)",
                                             kind, unsigned{ihdr.color_type}, unsigned{ihdr.bit_depth});
    // Grey, grey with alpha and palettes with tRNS every reader shows as
    // they are.
    if (!png_without_alpha(ihdr.color_type, ihdr.bit_depth, trns)) return;
    const std::int64_t width = ihdr.width;
    if ((width * 3 + 3) / 4 * 4 - width * 3 > (width + 7) / 8) {
        add_finding(out, index, ihdr_at, reader_effect{WINDOWS}, "png-not-rgba",
                    problem + finding_text(", %lu pixels wide, a width whose rows Windows pads past the room "
                                           "it makes",
                                           static_cast<unsigned long>(ihdr.width)));
        return;
    }
    const bool swapped = ihdr.color_type != 0;
    const bool key_lost = trns && ihdr.bit_depth == 8 && (ihdr.color_type == 0 || ihdr.color_type == 2);
    if (!swapped && !key_lost) return;
    add_finding(out, index, ihdr_at, reader_effect{0, 0, WINDOWS}, "png-not-rgba", problem,
                png_colour_phrase(swapped, key_lost));
}

// What readers do with a chunk whose CRC is wrong: IHDR and PLTE Chrome,
// Firefox and Qt refuse; IDAT Chrome and Qt refuse and Firefox shows part
// of; IEND only Qt refuses; an ancillary chunk every reader drops.
reader_effect crc_effect(const PNG_CHUNK_HEADER& header) {
    if (png_chunk_is(header, "IHDR") || png_chunk_is(header, "PLTE")) return {CHROME | FIREFOX | QT};
    if (png_chunk_is(header, "IDAT")) return {CHROME | QT, FIREFOX};
    if (png_chunk_is(header, "IEND")) return {QT};
    if (header.type[0] >= 'A' && header.type[0] <= 'Z') return {CHROME | FIREFOX | QT};
    return {};
}

std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

// Walks the chunks from just after the signature (at `offset` + 8) up to
// `limit` bytes from the image's start.
void walk_png(image_source& source, std::int32_t index, std::int64_t offset, std::int64_t limit,
              bool check_crcs, image_facts& facts, std::vector<finding>& out) {
    std::int64_t pos = PNG_SIGNATURE_SIZE;
    bool first = true;
    bool complete = false;
    bool broken = false;  // a fault that stops every decoder
    chunk_order order;
    PNG_IHDR ihdr{};
    bool have_ihdr = false;
    for (;;) {
        const std::int64_t at = offset + pos;
        std::uint8_t head[PNG_CHUNK_HEADER_SIZE];
        if (limit - pos < PNG_CHUNK_HEADER_SIZE + PNG_CRC_SIZE || !source.read(head, PNG_CHUNK_HEADER_SIZE)) {
            png_truncated(out, index, offset + limit);
            broken = true;
            break;
        }
        const PNG_CHUNK_HEADER header = png_chunk_header_from(head);
        const bool letters = is_letter(header.type[0]) && is_letter(header.type[1]) &&
                             is_letter(header.type[2]) && is_letter(header.type[3]);
        if (header.length > PNG_MAX_CHUNK || !letters) {
            // Chrome passes over a chunk whose type is not letters; nothing
            // reads past a length PNG does not allow.
            add_finding(
                out, index, at, letters ? PNG_FAILS : reader_effect{WINDOWS | FIREFOX | QT}, "png-chunk",
                letters
                    ? finding_text("a chunk at byte %lld declares %lu bytes, more than PNG allows",
                                   static_cast<long long>(at), static_cast<unsigned long>(header.length))
                    : finding_text("the bytes at %lld are not a chunk header: its type is not four letters",
                                   static_cast<long long>(at)));
            broken = true;
            break;
        }
        if (limit - pos - PNG_CHUNK_HEADER_SIZE - PNG_CRC_SIZE < std::int64_t{header.length}) {
            png_truncated(out, index, offset + limit);
            broken = true;
            break;
        }
        const bool is_ihdr = png_chunk_is(header, "IHDR");
        if (first) {
            order.first_at = at;
            std::memcpy(order.first_type, header.type, sizeof order.first_type);
        }
        if (is_ihdr &&
            (order.ihdr_seen ? first_time(order, ONCE_SECOND_IHDR) : header.length != PNG_IHDR_DATA_SIZE)) {
            add_finding(out, index, at, PNG_FAILS, "png-chunk",
                        order.ihdr_seen ? std::string("a second IHDR chunk follows the first")
                                        : finding_text("the IHDR chunk holds %lu bytes, not 13",
                                                       static_cast<unsigned long>(header.length)));
            broken = true;
        }
        check_chunk_order(header, at, order, index, out);
        if (!order.idat) {
            facts.png_trns = facts.png_trns || png_chunk_is(header, "tRNS");
            facts.png_srgb = facts.png_srgb || png_chunk_is(header, "sRGB") || png_chunk_is(header, "iCCP");
            facts.png_chrm = facts.png_chrm || png_chunk_is(header, "cHRM");
        }
        std::uint32_t crc = crc32_update(0, header.type, sizeof header.type);
        bool passed = true;
        if (is_ihdr && !order.ihdr_seen && header.length == PNG_IHDR_DATA_SIZE) {
            std::uint8_t data[PNG_IHDR_DATA_SIZE];
            passed = source.read(data, PNG_IHDR_DATA_SIZE);
            ihdr = png_ihdr_from(data);
            have_ihdr = passed;
            crc = crc32_update(crc, data, sizeof data);
        } else if (png_chunk_is(header, "gAMA") && header.length == 4 && !order.idat) {
            std::uint8_t data[4];
            passed = source.read(data, 4);
            if (passed) facts.png_gamma = be32(data);
            crc = crc32_update(crc, data, sizeof data);
        } else if (check_crcs) {
            passed = source.crc(header.length, crc);
        } else {
            passed = source.skip(std::int64_t{header.length});
        }
        order.ihdr_seen = order.ihdr_seen || is_ihdr;
        std::uint8_t stored[PNG_CRC_SIZE];
        if (!passed || !source.read(stored, PNG_CRC_SIZE)) {
            png_truncated(out, index, offset + limit);
            broken = true;
            break;
        }
        const std::uint32_t stored_crc = be32(stored);
        // Only a chunk whose data was read has a CRC to compare: a first look
        // passes over the data of all but IHDR, and leaves every CRC to the
        // whole examination.
        if (check_crcs && stored_crc != crc && first_time(order, ONCE_CRC)) {
            // One is enough: decoders stop at the first they mind.
            add_finding(
                out, index, at, crc_effect(header), "png-crc",
                finding_text("the %.4s chunk at byte %lld is damaged: its CRC is %08lX, its bytes give "
                             "%08lX",
                             reinterpret_cast<const char*>(header.type), static_cast<long long>(at),
                             static_cast<unsigned long>(stored_crc), static_cast<unsigned long>(crc)));
        }
        first = false;
        pos += PNG_CHUNK_HEADER_SIZE + std::int64_t{header.length} + PNG_CRC_SIZE;
        if (png_chunk_is(header, "IDAT")) facts.data_end = pos;
        if (png_chunk_is(header, "IEND")) {
            facts.size = pos;
            complete = true;
            break;
        }
    }
    if (order.first_at >= 0 && std::memcmp(order.first_type, "IHDR", 4) != 0) {
        // Firefox reads a stream whose IHDR comes after another chunk.
        add_finding(out, index, order.first_at,
                    order.ihdr_seen ? reader_effect{WINDOWS | CHROME | QT} : PNG_FAILS, "png-no-ihdr",
                    order.ihdr_seen ? finding_text("the PNG stream starts with a %.4s chunk, not IHDR",
                                                   reinterpret_cast<const char*>(order.first_type))
                                    : std::string("the PNG stream has no IHDR chunk"));
        broken = true;
    }
    if (complete && !order.idat) {
        add_finding(out, index, offset + pos - PNG_CHUNK_HEADER_SIZE - PNG_CRC_SIZE,
                    reader_effect{WINDOWS | CHROME | FIREFOX | QT}, "png-no-idat",
                    "the PNG stream has no IDAT chunk: no image data");
        broken = true;
    }
    if (!have_ihdr) return;
    facts.width = static_cast<std::int32_t>(ihdr.width);
    facts.height = static_cast<std::int32_t>(ihdr.height);
    facts.bit_count = static_cast<std::uint16_t>(ihdr.bit_depth * png_channels(ihdr.color_type));
    facts.png_color_type = ihdr.color_type;
    facts.png_bit_depth = ihdr.bit_depth;
    const std::int64_t ihdr_at = offset + PNG_SIGNATURE_SIZE;
    bool sized = true;
    if (ihdr.width > ENTRY_MAX_PIXELS || ihdr.height > ENTRY_MAX_PIXELS || ihdr.width == 0 ||
        ihdr.height == 0) {
        // Windows, Firefox and Qt show such an image at its own size.
        add_finding(
            out, index, ihdr_at, reader_effect{CHROME}, "png-dimensions",
            finding_text("the PNG image is %lu x %lu pixels; an icon image has 1 to 256 on each side",
                         static_cast<unsigned long>(ihdr.width), static_cast<unsigned long>(ihdr.height)));
        sized = false;
    }
    const bool usable = check_ihdr(ihdr, ihdr_at + PNG_CHUNK_HEADER_SIZE, index, out);
    if (usable) check_colour_type(ihdr, facts.png_trns, ihdr_at, index, out);
    const bool palette = check_palette(ihdr, order, index, out);
    facts.decodable = complete && !broken && usable && palette && sized;
}

bool known_bit_count(std::uint16_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

std::int64_t row_bytes(std::int64_t width, std::int64_t bits) { return (width * bits + 31) / 32 * 4; }

// a x b for sizes of 0 or more, at most 2^60: a header's 2^31 rows of
// 2^47 bytes are only far more than any file holds.
std::int64_t capped_product(std::int64_t a, std::int64_t b) {
    constexpr std::int64_t cap = std::int64_t{1} << 60;
    return a != 0 && b > cap / a ? cap : a * b;
}

const char* compression_name(std::int32_t compression) {
    switch (compression) {
        case 1: return "RLE8";
        case 2: return "RLE4";
        case 3: return "bit fields";
        case 4: return "JPEG";
        case 5: return "PNG";
        default: return "an unknown method";
    }
}

// The sizes a bitmap's header gives: its colour table (as many entries as
// biClrUsed says, up to the depth's full table; three masks after a 40-byte
// header for bit fields), where its colour rows end, and its whole size
// with the mask.
void size_bitmap(std::int32_t header_size, std::int64_t width, std::int64_t height, std::uint16_t bits,
                 std::int32_t clr_used, std::int32_t compression, std::int32_t entry_bytes,
                 image_facts& facts) {
    std::int64_t table = 0;
    if (bits <= 8) {
        const std::int64_t full = std::int64_t{1} << bits;
        table = (clr_used > 0 && clr_used < full ? clr_used : full) * entry_bytes;
    } else if (compression == 3 && header_size == BITMAPINFOHEADER_SIZE) {
        table = 12;
    }
    facts.table_size = static_cast<std::int32_t>(table);
    const std::int64_t w = width < 0 ? -width : width;
    const std::int64_t h = height < 0 ? -height : height;
    facts.colour_end = header_size + table + capped_product(row_bytes(w, bits), h);
    facts.full_size = facts.colour_end + capped_product(row_bytes(w, 1), h);
}

// The old 12-byte header: 16-bit width and height, planes and depth, and a
// colour table of three bytes an entry.
void examine_core_bitmap(const std::uint8_t* head, std::int32_t index, std::int64_t offset,
                         image_facts& facts, std::vector<finding>& out) {
    const auto u16 = [head](int at) { return static_cast<std::uint16_t>(head[at] | head[at + 1] << 8); };
    facts.kind = image_kind::bitmap;
    facts.header_size = CORE_HEADER_SIZE;
    facts.width = u16(4);
    facts.stored_height = u16(6);
    facts.height = facts.stored_height / 2;
    facts.bit_count = u16(10);
    if (facts.bit_count <= 8)
        facts.color_count = static_cast<std::uint8_t>(facts.bit_count >= 8 ? 0u : 1u << facts.bit_count);
    size_bitmap(CORE_HEADER_SIZE, facts.width, facts.height, facts.bit_count, 0, 0, 3, facts);
    add_finding(out, index, offset, reader_effect{CHROME | FIREFOX | GNOME | QT}, "bitmap-header-size",
                "the bitmap has the old 12-byte header (BITMAPCOREHEADER, biSize 12)",
                "Windows shows it; Chrome, Firefox, GNOME and Qt fail it");
}

void examine_bitmap(const BITMAPINFOHEADER& header, std::int32_t index, std::int64_t offset,
                    image_facts& facts, std::vector<finding>& out) {
    facts.kind = image_kind::bitmap;
    facts.header_size = header.biSize;
    facts.compression = header.biCompression;
    facts.width = header.biWidth;
    facts.stored_height = header.biHeight;
    facts.height = header.biHeight / 2;
    facts.bit_count = header.biBitCount;
    if (header.biSize != BITMAPINFOHEADER_SIZE) {
        // The 56-, 108- and 124-byte headers Chrome reads; Windows and
        // Firefox refuse them, and GNOME and Qt take the table from the
        // wrong place.
        const bool newer = header.biSize == 56 || header.biSize == 108 || header.biSize == 124;
        const char* name = header.biSize == 108   ? "BITMAPV4HEADER, "
                           : header.biSize == 124 ? "BITMAPV5HEADER, "
                                                  : "";
        add_finding(out, index, offset, newer ? reader_effect{WINDOWS | FIREFOX, GNOME | QT} : ALL_FAIL,
                    "bitmap-header-size",
                    finding_text("the bitmap has a %ld-byte header (%sbiSize %ld); icons use the 40-byte one",
                                 static_cast<long>(header.biSize), name, static_cast<long>(header.biSize)));
    }
    if (header.biWidth <= 0) {
        add_finding(out, index, offset + 4, reader_effect{MAJOR_READERS}, "bitmap-dimensions",
                    finding_text("the bitmap's width is %ld (biWidth); it must be positive",
                                 static_cast<long>(header.biWidth)));
    } else if (header.biHeight < 0) {
        add_finding(out, index, offset + 8, reader_effect{0, WINDOWS | CHROME | GNOME}, "bitmap-dimensions",
                    finding_text("the bitmap is stored top-down (biHeight %ld); icon bitmaps are stored "
                                 "bottom-up",
                                 static_cast<long>(header.biHeight)),
                    "Windows, Chrome and GNOME show it upside down");
    } else if (header.biHeight < 2) {
        add_finding(out, index, offset + 8, ALL_FAIL, "bitmap-dimensions",
                    finding_text("the bitmap's height is %ld (biHeight): no row",
                                 static_cast<long>(header.biHeight)));
    }
    if (header.biPlanes == 0) {
        add_finding(out, index, offset + 12, reader_effect{WINDOWS}, "bitmap-planes",
                    "the bitmap says it has no colour plane (biPlanes 0)", "Windows draws nothing");
    } else if (header.biPlanes != 1) {
        add_finding(out, index, offset + 12, reader_effect{}, "bitmap-planes",
                    finding_text("the bitmap says it has %u colour planes (biPlanes %u), not 1",
                                 unsigned{header.biPlanes}, unsigned{header.biPlanes}));
    }
    if (header.biBitCount == 16 && header.biCompression == 0) {
        add_finding(out, index, offset + 14, reader_effect{QT}, "bitmap-bit-count",
                    "the bitmap has 16 bits a pixel (5 bits a colour, biBitCount 16)");
    } else if (!known_bit_count(header.biBitCount)) {
        add_finding(
            out, index, offset + 14, reader_effect{CHROME | FIREFOX | GNOME | QT, WINDOWS},
            "bitmap-bit-count",
            finding_text("the bitmap has %u bits a pixel (biBitCount %u); readers take 1, 4, 8, 16, 24 "
                         "or 32",
                         unsigned{header.biBitCount}, unsigned{header.biBitCount}));
    }
    if (header.biCompression != 0) {
        // Bit fields Windows and Chrome read; the other methods Qt alone.
        const bool fields = header.biCompression == 3 && (header.biBitCount == 16 || header.biBitCount == 32);
        add_finding(
            out, index, offset + 16,
            fields
                ? reader_effect{static_cast<reader_set>(FIREFOX | GNOME | (header.biBitCount == 16 ? QT : 0)),
                                header.biBitCount == 16 ? reader_set{0} : QT}
                : reader_effect{WINDOWS | CHROME | FIREFOX | GNOME},
            "bitmap-compression",
            finding_text("the bitmap is stored with %s (biCompression %ld); icon bitmaps are "
                         "uncompressed (0)",
                         compression_name(header.biCompression), static_cast<long>(header.biCompression)));
    }
    if (header.biBitCount <= 8 && header.biBitCount > 0) {
        const std::int64_t table = std::int64_t{1} << header.biBitCount;
        if (header.biClrUsed < 0 || header.biClrUsed > table) {
            // Windows reads that many colours, so the rows start later; at
            // 8 bits it stops at 256.
            const bool shifted = header.biBitCount < 8;
            add_finding(
                out, index, offset + 32,
                reader_effect{QT, shifted ? reader_set{WINDOWS | GNOME} : reader_set{GNOME}},
                "bitmap-palette",
                finding_text("the bitmap's palette says %ld colours (biClrUsed), more than the %lld of "
                             "%u bits",
                             static_cast<long>(header.biClrUsed), static_cast<long long>(table),
                             unsigned{header.biBitCount}));
        } else if (header.biClrUsed > 0 && header.biClrUsed < table && header.biBitCount == 8) {
            add_finding(out, index, offset + 32, reader_effect{FIREFOX}, "bitmap-palette",
                        finding_text("the 8-bit bitmap's palette holds %ld colours (biClrUsed), not 256",
                                     static_cast<long>(header.biClrUsed)),
                        "Firefox draws it blank");
        }
        const std::int64_t colours =
            header.biClrUsed > 0 && header.biClrUsed <= table ? header.biClrUsed : table;
        facts.color_count = colours >= 256 ? 0 : static_cast<std::uint8_t>(colours);
    }
    const std::int32_t header_bytes =
        header.biSize >= BITMAPINFOHEADER_SIZE ? header.biSize : BITMAPINFOHEADER_SIZE;
    size_bitmap(header_bytes, header.biWidth, header.biHeight / 2, header.biBitCount, header.biClrUsed,
                header.biCompression, 4, facts);
}

// The rows and mask against the bytes the file holds.
void check_bitmap_end(std::int32_t index, std::int64_t offset, std::int64_t limit, image_facts& facts,
                      std::vector<finding>& out) {
    const std::int64_t end = offset + limit;
    if (facts.colour_end > limit) {
        add_finding(out, index, end, ALL_FAIL, "image-truncated",
                    finding_text("the file ends at byte %lld, %lld bytes into a bitmap whose colour rows end "
                                 "at %lld",
                                 static_cast<long long>(end), static_cast<long long>(limit),
                                 static_cast<long long>(facts.colour_end)));
        facts.size = facts.full_size;
        return;
    }
    // A bitmap the file ends after without its mask is read by every reader
    // that reads its colour rows; what that takes is bitmap-no-mask's.
    facts.mask_missing = facts.full_size > limit;
    facts.size = facts.mask_missing ? facts.colour_end : facts.full_size;
    facts.decodable = facts.compression == 0 && facts.width > 0 && facts.width <= ENTRY_MAX_PIXELS &&
                      facts.height > 0 && facts.height <= ENTRY_MAX_PIXELS &&
                      (facts.header_size == BITMAPINFOHEADER_SIZE || facts.header_size == 108 ||
                       facts.header_size == 124) &&
                      (facts.bit_count == 1 || facts.bit_count == 4 || facts.bit_count == 8 ||
                       facts.bit_count == 24 || facts.bit_count == 32);
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

void add_finding(std::vector<finding>& out, std::int32_t index, std::int64_t offset,
                 const reader_effect& effect, const char* id, const std::string& problem,
                 const char* phrase) {
    std::string message = problem;
    message += ": ";
    message += phrase != nullptr ? std::string(phrase) : effect_phrase(effect);
    out.push_back(finding{index, offset, severity_of(effect), id, std::move(message), effect});
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
    // The first 4 bytes tell a PNG stream and a bitmap header's size; a
    // bitmap's header goes on to 12 or 40 bytes.
    std::uint8_t head[BITMAPINFOHEADER_SIZE] = {};
    const bool started = limit >= 4 && source.read(head, 4);
    const std::int32_t header_size =
        static_cast<std::int32_t>(std::uint32_t{head[0]} | std::uint32_t{head[1]} << 8 |
                                  std::uint32_t{head[2]} << 16 | std::uint32_t{head[3]} << 24);
    const bool core = started && header_size == CORE_HEADER_SIZE;
    const std::int32_t wanted = core ? CORE_HEADER_SIZE : BITMAPINFOHEADER_SIZE;
    if (started && std::memcmp(head, PNG_SIGNATURE, 4) == 0) {
        facts.kind = image_kind::png;
        if (limit < PNG_SIGNATURE_SIZE || !source.read(head + 4, PNG_SIGNATURE_SIZE - 4)) {
            png_truncated(out, index, offset + limit);
        } else if (std::memcmp(head, PNG_SIGNATURE, PNG_SIGNATURE_SIZE) != 0) {
            add_finding(out, index, offset, PNG_FAILS, "png-signature",
                        "the image starts like a PNG stream but its signature is damaged");
        } else {
            walk_png(source, index, offset, limit, pass.check_crcs, facts, out);
        }
    } else if (!started || limit < wanted || !source.read(head + 4, wanted - 4)) {
        const std::int64_t end = offset + limit;
        add_finding(out, index, end, ALL_FAIL, "image-truncated",
                    finding_text("the file ends at byte %lld, before the end of the image's %ld-byte header",
                                 static_cast<long long>(end), static_cast<long>(wanted)));
    } else if (header_size != CORE_HEADER_SIZE && header_size != BITMAPINFOHEADER_SIZE && header_size != 52 &&
               header_size != 56 && header_size != 64 && header_size != 108 && header_size != 124) {
        // No header of this size exists: its other fields mean nothing.
        facts.kind = image_kind::bitmap;
        facts.header_size = header_size;
        add_finding(
            out, index, offset, ALL_FAIL, "bitmap-header-size",
            finding_text("the image is neither a PNG stream nor a bitmap: its header size is %ld (biSize)",
                         static_cast<long>(header_size)));
    } else {
        if (core) {
            examine_core_bitmap(head, index, offset, facts, out);
        } else {
            examine_bitmap(bitmap_info_header_from(head), index, offset, facts, out);
        }
        check_bitmap_end(index, offset, limit, facts, out);
        // The rows are not examined, but copied as they are read.
        if (pass.copy != nullptr && facts.size > wanted && facts.size <= limit)
            source.skip(facts.size - wanted);
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

namespace {

// "PNG image", "32-bit image", "4-bit image of 16 colours".
std::string image_words(const image_facts& facts) {
    if (facts.kind == image_kind::png) return "PNG image";
    if (facts.bit_count > 8 || facts.bit_count == 0)
        return finding_text("%u-bit image", unsigned{facts.bit_count});
    return finding_text("%u-bit image of %u colours", unsigned{facts.bit_count},
                        facts.color_count == 0 ? 256u : unsigned{facts.color_count});
}

// What a dwBytesInRes below the image's size cuts, and what readers then do:
// Windows reads a program's icon resource as long as the count says,
// Firefox too; the others read on.
void check_bytes_in_res(std::int32_t index, std::int64_t at, std::int64_t claimed, const image_facts& facts,
                        std::vector<finding>& out) {
    const auto text = [&](const char* what) {
        return finding_text("the directory's byte count %s (dwBytesInRes %lld of %lld)", what,
                            static_cast<long long>(claimed), static_cast<long long>(facts.size));
    };
    if (claimed > facts.size) {
        add_finding(out, index, at, reader_effect{}, "entry-bytes-in-res",
                    finding_text("the directory gives the image %lld bytes more than it spans (dwBytesInRes "
                                 "%lld of %lld)",
                                 static_cast<long long>(claimed - facts.size),
                                 static_cast<long long>(claimed), static_cast<long long>(facts.size)));
        return;
    }
    if (claimed == 0) {
        add_finding(out, index, at, reader_effect{WINDOWS | FIREFOX}, "entry-bytes-in-res",
                    "the directory gives the image no bytes (dwBytesInRes 0)");
        return;
    }
    if (facts.kind == image_kind::png) {
        if (facts.data_end >= 0 && claimed >= facts.data_end) {
            add_finding(out, index, at, reader_effect{QT}, "entry-bytes-in-res",
                        text("ends after the PNG image's data, before its IEND chunk"));
        } else {
            add_finding(out, index, at,
                        reader_effect{
                            static_cast<reader_set>(WINDOWS | (claimed <= PNG_SIGNATURE_SIZE ? FIREFOX : 0)),
                            FIREFOX},
                        "entry-bytes-in-res", text("ends inside the PNG image's data"));
        }
        return;
    }
    if (claimed < facts.colour_end) {
        add_finding(out, index, at, reader_effect{WINDOWS | FIREFOX}, "entry-bytes-in-res",
                    text("ends inside the bitmap's colour rows"), "Windows fails it, Firefox draws it blank");
        return;
    }
    // Only the mask is cut: readers that stop at the count show the pixels
    // it hides; alpha makes a 32-bit bitmap's mask unused.
    if (facts.bit_count == 32 && !facts.alpha_zero) {
        add_finding(out, index, at, reader_effect{}, "entry-bytes-in-res",
                    text("ends before the bitmap's mask"),
                    "its alpha leaves the mask unused: no reader is affected");
    } else if (facts.decoded && !facts.mask_hides) {
        add_finding(out, index, at, reader_effect{}, "entry-bytes-in-res",
                    text("ends before the bitmap's mask"), "the mask hides no pixel: no reader is affected");
    } else {
        add_finding(out, index, at, reader_effect{0, WINDOWS | FIREFOX}, "entry-bytes-in-res",
                    text("ends before the bitmap's mask"), "Windows and Firefox show the pixels it hides");
    }
}

}  // namespace

void check_entry(std::int32_t index, const ICONDIRENTRY& entry, std::uint16_t id_type,
                 const image_facts& facts, std::vector<finding>& out) {
    const std::int64_t at = icon_dir_entry_offset(index);
    const std::int32_t width = entry_pixels(entry.bWidth);
    const std::int32_t height = entry_pixels(entry.bHeight);
    if (entry.bReserved != 0) {
        add_finding(out, index, at + 3, reader_effect{}, "entry-reserved",
                    finding_text("the directory entry's reserved byte is %u, not 0 (bReserved)",
                                 unsigned{entry.bReserved}));
    }
    if (facts.kind == image_kind::unknown) return;
    const bool sized = facts.width > 0;
    if (facts.kind == image_kind::png && sized && (facts.width != width || facts.height != height)) {
        // Firefox shows the PNG's own size when the entry says 0 x 0.
        const bool zero = entry.bWidth == 0 && entry.bHeight == 0;
        add_finding(out, index, at, reader_effect{static_cast<reader_set>(CHROME | (zero ? 0 : FIREFOX))},
                    "png-size-mismatch",
                    finding_text("the directory says %ld x %ld, the PNG image is %ld x %ld",
                                 static_cast<long>(width), static_cast<long>(height),
                                 static_cast<long>(facts.width), static_cast<long>(facts.height)));
    }
    if (facts.kind == image_kind::bitmap && facts.header_size >= CORE_HEADER_SIZE) {
        if (facts.stored_height == height && facts.width == width) {
            add_finding(
                out, index, at + 1, reader_effect{CHROME | FIREFOX | GNOME, WINDOWS},
                "bitmap-height-not-doubled",
                finding_text("the bitmap's height counts its colour rows alone (biHeight %ld for an icon "
                             "%ld high); it must count the mask rows too",
                             static_cast<long>(facts.stored_height), static_cast<long>(height)));
        } else if (facts.width != width || facts.height != height) {
            add_finding(out, index, at, reader_effect{CHROME | FIREFOX | GNOME, QT}, "bitmap-size-mismatch",
                        finding_text("the directory says %ld x %ld, the bitmap is %ld x %ld",
                                     static_cast<long>(width), static_cast<long>(height),
                                     static_cast<long>(facts.width), static_cast<long>(facts.height)));
        }
    }
    const std::int64_t claimed = std::uint32_t(entry.dwBytesInRes);
    if (facts.size >= 0 && claimed != facts.size) check_bytes_in_res(index, at + 8, claimed, facts, out);
    const std::uint8_t colours = facts.kind == image_kind::png ? 0 : facts.color_count;
    if (entry.bColorCount != colours) {
        add_finding(out, index, at + 2, reader_effect{}, "entry-color-count",
                    finding_text("the directory says %s for this %s (bColorCount %u)",
                                 entry.bColorCount == 0
                                     ? "256 or more colours"
                                     : finding_text("%u colours", unsigned{entry.bColorCount}).c_str(),
                                 image_words(facts).c_str(), unsigned{entry.bColorCount}),
                    "no reader's choice changes");
    }
    if (id_type == 2) {
        if (sized && facts.height > 0 &&
            (std::int32_t{entry.wPlanes} >= facts.width || std::int32_t{entry.wBitCount} >= facts.height)) {
            add_finding(out, index, at + 4, reader_effect{}, "cursor-hotspot",
                        finding_text("the hotspot (%u, %u) lies outside the %ld x %ld image",
                                     unsigned{entry.wPlanes}, unsigned{entry.wBitCount},
                                     static_cast<long>(facts.width), static_cast<long>(facts.height)),
                        "no reader uses the hotspot to draw");
        }
        return;
    }
    if (entry.wPlanes > 1) {
        add_finding(out, index, at + 4, reader_effect{}, "entry-planes",
                    finding_text("the directory says %u colour planes (wPlanes %u), not 0 or 1",
                                 unsigned{entry.wPlanes}, unsigned{entry.wPlanes}));
    }
    if (entry.wBitCount != 0 && entry.wBitCount != facts.bit_count && facts.bit_count != 0) {
        add_finding(
            out, index, at + 6, reader_effect{}, "entry-bit-count",
            finding_text("the directory says %u bits a pixel for this %u-bit image (wBitCount %u)",
                         unsigned{entry.wBitCount}, unsigned{facts.bit_count}, unsigned{entry.wBitCount}),
            "no reader's choice changes");
    }
}
