#include "image_checks.hpp"

#include <cstdarg>
#include <cstring>

#include "png_records.hpp"

namespace {

// The largest chunk length PNG allows (2^31 - 1).
constexpr std::uint32_t PNG_MAX_CHUNK = 0x7FFFFFFFu;
// What an entry's width and height bytes can say.
constexpr std::int32_t ENTRY_MAX_PIXELS = 256;

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

// The 13 data bytes of an IHDR as they lie in the stream, for its CRC.
std::uint32_t ihdr_crc(const PNG_CHUNK_HEADER& header, const PNG_IHDR& ihdr) {
    const std::uint8_t bytes[4 + PNG_IHDR_DATA_SIZE] = {
        header.type[0],
        header.type[1],
        header.type[2],
        header.type[3],
        static_cast<std::uint8_t>(ihdr.width >> 24),
        static_cast<std::uint8_t>(ihdr.width >> 16),
        static_cast<std::uint8_t>(ihdr.width >> 8),
        static_cast<std::uint8_t>(ihdr.width),
        static_cast<std::uint8_t>(ihdr.height >> 24),
        static_cast<std::uint8_t>(ihdr.height >> 16),
        static_cast<std::uint8_t>(ihdr.height >> 8),
        static_cast<std::uint8_t>(ihdr.height),
        ihdr.bit_depth,
        ihdr.color_type,
        ihdr.compression,
        ihdr.filter,
        ihdr.interlace,
    };
    return crc32_update(0, bytes, sizeof bytes);
}

void png_truncated(std::vector<finding>& out, std::int32_t index, std::int64_t at) {
    add_finding(out, index, at, severity::error, "image-truncated",
                finding_text("the file ends at byte %lld, inside the PNG stream and before its IEND chunk",
                             static_cast<long long>(at)));
}

// Walks the chunks from just after the signature (at `offset` + 8) up to
// `limit` bytes from the image's start.
void walk_png(std::FILE* stream, std::int32_t index, std::int64_t offset, std::int64_t limit,
              image_facts& facts, std::vector<finding>& out) {
    std::int64_t pos = PNG_SIGNATURE_SIZE;
    bool first = true;
    bool crc_reported = false;
    PNG_IHDR ihdr{};
    bool have_ihdr = false;
    for (;;) {
        const std::int64_t at = offset + pos;
        PNG_CHUNK_HEADER header{};
        if (limit - pos < PNG_CHUNK_HEADER_SIZE + PNG_CRC_SIZE ||
            read_png_chunk_header(stream, header) != IO_OK) {
            png_truncated(out, index, offset + limit);
            break;
        }
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
        std::uint32_t crc = 0;
        if (first && is_ihdr && header.length == PNG_IHDR_DATA_SIZE) {
            if (read_png_ihdr(stream, ihdr) != IO_OK) {
                png_truncated(out, index, offset + limit);
                break;
            }
            have_ihdr = true;
            crc = ihdr_crc(header, ihdr);
        } else {
            if (is_ihdr) {
                add_finding(out, index, at, severity::error, "png-chunk",
                            first ? finding_text("the IHDR chunk holds %lu bytes, not 13",
                                                 static_cast<unsigned long>(header.length))
                                  : std::string("a second IHDR chunk follows the first"));
            }
            crc = crc32_update(0, header.type, sizeof header.type);
            if (crc_stream_bytes(stream, header.length, &crc) != IO_OK) {
                png_truncated(out, index, offset + limit);
                break;
            }
        }
        std::uint32_t stored = 0;
        if (read_be32(stream, &stored) != IO_OK) {
            png_truncated(out, index, offset + limit);
            break;
        }
        if (stored != crc && !crc_reported) {
            // One is enough: a stream with a broken CRC is refused whole.
            // Decoders refuse a critical chunk (upper-case first letter) with a
            // broken CRC and drop an ancillary one.
            const bool critical = header.type[0] >= 'A' && header.type[0] <= 'Z';
            add_finding(out, index, at, critical ? severity::error : severity::warning, "png-crc",
                        finding_text("the %.4s chunk at byte %lld has CRC %08lX, its bytes give %08lX",
                                     reinterpret_cast<const char*>(header.type), static_cast<long long>(at),
                                     static_cast<unsigned long>(stored), static_cast<unsigned long>(crc)));
            crc_reported = true;
        }
        first = false;
        pos += PNG_CHUNK_HEADER_SIZE + std::int64_t{header.length} + PNG_CRC_SIZE;
        if (png_chunk_is(header, "IEND")) {
            facts.size = pos;
            break;
        }
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
    if (ihdr.bit_depth != 8 || ihdr.color_type != 6) {
        // 8-bit RGB still decodes everywhere; anything else is refused by some.
        const bool rgb8 = ihdr.bit_depth == 8 && ihdr.color_type == 2;
        add_finding(
            out, index, ihdr_at, rgb8 ? severity::warning : severity::error, "png-not-rgba",
            finding_text(
                "the PNG image has colour type %u at %u bits a sample, not 8-bit RGBA (colour type 6)",
                unsigned{ihdr.color_type}, unsigned{ihdr.bit_depth}));
    }
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
                          std::int32_t claimed_size, std::vector<finding>& out) {
    image_facts facts;
    const std::int64_t limit = available >= 0 ? available : std::int64_t{claimed_size};
    // Nothing of the image lies in the file: the directory's checks say so.
    if (offset < 0 || offset > INT32_MAX || limit <= 0) return facts;
    if (stream_seek(stream, SEEK_FROM_START, static_cast<std::int32_t>(offset)) != IO_OK) return facts;
    std::uint8_t signature[PNG_SIGNATURE_SIZE] = {};
    const bool png_start =
        limit >= 4 && read_u8(stream, &signature[0]) == IO_OK && read_u8(stream, &signature[1]) == IO_OK &&
        read_u8(stream, &signature[2]) == IO_OK && read_u8(stream, &signature[3]) == IO_OK &&
        std::memcmp(signature, PNG_SIGNATURE, 4) == 0;
    if (png_start) {
        facts.kind = image_kind::png;
        bool whole = limit >= PNG_SIGNATURE_SIZE;
        for (std::int32_t i = 4; whole && i < PNG_SIGNATURE_SIZE; ++i) {
            whole = read_u8(stream, &signature[i]) == IO_OK;
        }
        if (!whole) {
            png_truncated(out, index, offset + limit);
        } else if (std::memcmp(signature, PNG_SIGNATURE, PNG_SIGNATURE_SIZE) != 0) {
            add_finding(out, index, offset, severity::error, "png-signature",
                        "the image starts like a PNG stream but its signature is damaged");
        } else {
            walk_png(stream, index, offset, limit, facts, out);
        }
        return facts;
    }
    BITMAPINFOHEADER header{};
    if (limit < BITMAPINFOHEADER_SIZE ||
        stream_seek(stream, SEEK_FROM_START, static_cast<std::int32_t>(offset)) != IO_OK ||
        read_bitmap_info_header(stream, header) != IO_OK) {
        const std::int64_t end = offset + limit;
        add_finding(out, index, end, severity::error, "image-truncated",
                    finding_text("the file ends at byte %lld, before the end of the image's 40-byte header",
                                 static_cast<long long>(end)));
        return facts;
    }
    examine_bitmap(header, index, offset, limit, facts, out);
    return facts;
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
