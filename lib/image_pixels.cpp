#include "image_pixels.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "icon_bitmap.hpp"
#include "png_codec.hpp"
#include "png_records.hpp"
#include "stream_io.hpp"

namespace {

// Only images an entry can describe are decoded; larger ones are errors
// already.
constexpr image_limits ICON_LIMITS{256, std::uint64_t{256} * 256};
constexpr std::int32_t READ_BLOCK = 65536;

// Reads `size` bytes at the stream's position, in blocks.
bool read_exact(std::FILE* stream, std::uint8_t* into, std::size_t size) {
    while (size > 0) {
        std::int32_t n = size < std::size_t{READ_BLOCK} ? static_cast<std::int32_t>(size) : READ_BLOCK;
        const std::int32_t wanted = n;
        if (stream_read(stream, &n, into) != IO_OK || n != wanted) return false;
        into += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A PNG stream as the decoder needs it: the signature and the chunks that
// make the pixels (IHDR, PLTE, tRNS, IDAT, IEND) as they lie in the file;
// the others are passed over, so that no ancillary chunk, however large,
// is held in memory. CRCs are left to the structural checks.
class png_pixel_chunks final : public png_byte_source {
   public:
    png_pixel_chunks(std::FILE* stream, std::int64_t end) : stream_(stream), end_(end) {}

    bool read(std::uint8_t* into, std::size_t size) override {
        while (size > 0) {
            if (signature_left_ == 0 && pending_ == 0 && passing_ == 0 && !next_chunk()) return false;
            std::size_t n = 0;
            if (signature_left_ > 0) {
                n = std::min<std::size_t>(size, signature_left_);
                std::memcpy(into, PNG_SIGNATURE + (PNG_SIGNATURE_SIZE - signature_left_), n);
                signature_left_ -= n;
            } else if (pending_ > 0) {
                n = std::min<std::size_t>(size, pending_);
                std::memcpy(into, header_ + (PNG_CHUNK_HEADER_SIZE - pending_), n);
                pending_ -= n;
            } else {
                n = static_cast<std::size_t>(
                    std::min<std::int64_t>(static_cast<std::int64_t>(size), passing_));
                if (!read_exact(stream_, into, n)) return false;
                passing_ -= static_cast<std::int64_t>(n);
                position_ += static_cast<std::int64_t>(n);
            }
            into += n;
            size -= n;
        }
        return true;
    }

    // Positions at the first chunk, just after the signature at `start`.
    bool begin(std::int64_t start) {
        position_ = start + PNG_SIGNATURE_SIZE;
        return stream_seek64(stream_, position_) == IO_OK;
    }

   private:
    bool next_chunk() {
        for (;;) {
            if (done_ || end_ - position_ < PNG_CHUNK_HEADER_SIZE + PNG_CRC_SIZE) return false;
            if (!read_exact(stream_, header_, PNG_CHUNK_HEADER_SIZE)) return false;
            position_ += PNG_CHUNK_HEADER_SIZE;
            const PNG_CHUNK_HEADER header = png_chunk_header_from(header_);
            const std::int64_t rest = std::int64_t{header.length} + PNG_CRC_SIZE;
            if (rest > end_ - position_) return false;
            done_ = png_chunk_is(header, "IEND");
            if (png_chunk_is(header, "IHDR") || png_chunk_is(header, "PLTE") ||
                png_chunk_is(header, "tRNS") || png_chunk_is(header, "IDAT") || done_) {
                pending_ = PNG_CHUNK_HEADER_SIZE;
                passing_ = rest;
                return true;
            }
            position_ += rest;
            if (stream_seek64(stream_, position_) != IO_OK) return false;
        }
    }

    std::FILE* stream_;
    std::int64_t end_;
    std::int64_t position_ = 0;
    std::size_t signature_left_ = PNG_SIGNATURE_SIZE;
    std::uint8_t header_[PNG_CHUNK_HEADER_SIZE] = {};
    std::size_t pending_ = 0;   // header bytes still to hand on
    std::int64_t passing_ = 0;  // data and CRC bytes still to hand on
    bool done_ = false;
};

// Keeps no row: only the digest of the picture.
class digest_sink final : public rgba_row_sink {
   public:
    image_status begin(std::uint32_t width, std::uint32_t height) override {
        digest_.start(width, height);
        row_bytes_ = std::size_t{width} * 4;
        return image_status::ok;
    }
    void row(std::uint32_t /*y*/, const std::uint8_t* rgba) override {
        digest_.add(rgba, row_bytes_);
        for (std::size_t i = 0; i < row_bytes_; i += 4) {
            if (rgba[i + 3] == 0) {
                transparent_ = true;
            } else if (rgba[i] != rgba[i + 2]) {
                red_blue_ = true;
            }
        }
    }
    std::uint64_t value() const { return digest_.value(); }
    bool transparent() const { return transparent_; }
    bool red_blue() const { return red_blue_; }

   private:
    picture_digest digest_;
    std::size_t row_bytes_ = 0;
    bool transparent_ = false;
    bool red_blue_ = false;  // a pixel shown whose red and blue differ
};

image_status decode_png_at(std::FILE* stream, std::int64_t offset, image_facts& facts) {
    png_pixel_chunks chunks(stream, offset + facts.size);
    if (!chunks.begin(offset)) return image_status::truncated;
    digest_sink sink;
    const image_status status = read_png(chunks, sink, ICON_LIMITS, {false});
    facts.digest = sink.value();
    facts.png_transparent = sink.transparent();
    facts.png_red_blue = sink.red_blue();
    return status;
}

// True when the compressed data of the PNG stream at `offset` ends with a
// wrong checksum. The decoder stops at the last row and never reads it, as
// Chrome does; Windows and Qt read on and refuse the image. Inflates every
// IDAT chunk again, through fixed buffers.
bool wrong_checksum(std::FILE* stream, std::int64_t offset, const image_facts& facts) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    std::vector<std::uint8_t> in(READ_BLOCK);
    std::vector<std::uint8_t> out(READ_BLOCK);
    std::int64_t at = offset + PNG_SIGNATURE_SIZE;
    const std::int64_t end = offset + facts.size;
    int result = Z_OK;
    while (result == Z_OK && end - at >= PNG_CHUNK_HEADER_SIZE + PNG_CRC_SIZE) {
        std::uint8_t head[PNG_CHUNK_HEADER_SIZE];
        if (stream_seek64(stream, at) != IO_OK || !read_exact(stream, head, sizeof head)) break;
        const PNG_CHUNK_HEADER header = png_chunk_header_from(head);
        at += PNG_CHUNK_HEADER_SIZE;
        std::int64_t left = header.length;
        if (png_chunk_is(header, "IDAT")) {
            while (result == Z_OK && left > 0) {
                const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, READ_BLOCK));
                if (!read_exact(stream, in.data(), n)) break;
                left -= static_cast<std::int64_t>(n);
                z.next_in = in.data();
                z.avail_in = static_cast<uInt>(n);
                do {
                    z.next_out = out.data();
                    z.avail_out = static_cast<uInt>(out.size());
                    result = inflate(&z, Z_NO_FLUSH);
                } while (result == Z_OK && z.avail_in > 0);
                if (result == Z_BUF_ERROR) result = Z_OK;
            }
        }
        at += std::int64_t{header.length} + PNG_CRC_SIZE;
        if (png_chunk_is(header, "IEND")) break;
    }
    const bool wrong =
        result == Z_DATA_ERROR && z.msg != nullptr && std::strcmp(z.msg, "incorrect data check") == 0;
    inflateEnd(&z);
    return wrong;
}

// What Windows, Chrome, Firefox and Qt do with PNG data that does not
// decode (Chrome alone shows an image whose only fault is the checksum
// after its data).
void png_pixels(std::FILE* stream, std::int32_t index, std::int64_t offset, image_facts& facts,
                std::vector<finding>& out) {
    const image_status status = decode_png_at(stream, offset, facts);
    if (status == image_status::ok) {
        facts.decoded = true;
        if (wrong_checksum(stream, offset, facts)) {
            add_finding(out, index, offset + PNG_SIGNATURE_SIZE, reader_effect{WINDOWS | QT, FIREFOX},
                        "png-data",
                        "the checksum at the end of the PNG image's compressed data is wrong (Adler-32)");
        }
        return;
    }
    if (status == image_status::no_memory || status == image_status::too_large) return;
    const std::int64_t at = offset + PNG_SIGNATURE_SIZE;
    const char* what = status == image_status::truncated       ? "ends before the image's last row"
                       : status == image_status::not_inflating ? "does not inflate"
                                                               : "does not decode (a row's filter type is "
                                                                 "unknown, or its data is damaged)";
    add_finding(out, index, at, reader_effect{WINDOWS | CHROME | QT, FIREFOX}, "png-data",
                finding_text("the PNG image's compressed data %s", what));
}

std::int64_t row_size(std::int64_t width, std::int64_t bits) { return (width * bits + 31) / 32 * 4; }

// What a bitmap's bytes say about how it is drawn: alpha, mask, palette.
void bitmap_facts(const std::vector<std::uint8_t>& data, image_facts& facts) {
    const std::int64_t w = facts.width;
    const std::int64_t h = facts.height;
    const unsigned bits = facts.bit_count;
    const std::uint8_t* table = data.data() + facts.header_size;
    const std::int64_t entries = facts.table_size / 4;
    const std::uint8_t* colour = table + facts.table_size;
    const std::int64_t colour_row = row_size(w, bits);
    const std::uint8_t* mask = data.data() + facts.colour_end;
    const std::int64_t mask_row = row_size(w, 1);
    bool alpha = false;
    if (bits == 32) {
        for (std::int64_t y = 0; y < h && !alpha; ++y)
            for (std::int64_t x = 0; x < w && !alpha; ++x) alpha = colour[y * colour_row + x * 4 + 3] != 0;
        facts.alpha_zero = !alpha;
    }
    // GNOME draws index 0 black and 1 white, whatever the palette says.
    const auto gnome_colour = [&](std::int64_t k) {
        const std::uint8_t v = k == 0 ? 0 : 255;
        return k < entries && table[k * 4] == v && table[k * 4 + 1] == v && table[k * 4 + 2] == v;
    };
    for (std::int64_t y = 0; y < h; ++y) {
        const std::uint8_t* mask_bits = facts.mask_missing ? nullptr : mask + y * mask_row;
        const std::uint8_t* row = colour + y * colour_row;
        for (std::int64_t x = 0; x < w; ++x) {
            const bool hidden = mask_bits != nullptr && ((mask_bits[x / 8] >> (7 - x % 8)) & 1) != 0;
            std::int64_t k = 0;
            if (bits <= 8) {
                const std::int64_t bit = x * bits;
                k = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1u);
            }
            if (bits == 1 && !hidden && !gnome_colour(k)) facts.two_colours = true;
            if (!hidden) {
                facts.mask_shows = true;
                continue;
            }
            facts.mask_hides = true;
            // Where alpha decides, the mask is not drawn.
            if (alpha) continue;
            const std::uint8_t* bgr = nullptr;
            if (bits <= 8) {
                if (k >= entries) continue;
                bgr = table + k * 4;
            } else {
                bgr = row + x * (bits / 8);
            }
            // XORed onto the screen. A dark grey tints it as a translucent
            // pixel would; any other colour inverts it.
            const std::uint8_t high = std::max({bgr[0], bgr[1], bgr[2]});
            const std::uint8_t low = std::min({bgr[0], bgr[1], bgr[2]});
            if (high > 127 || high - low > 1) ++facts.inverted;
        }
    }
}

void bitmap_pixels(std::FILE* stream, std::int64_t offset, std::int64_t available, image_facts& facts) {
    const std::int64_t whole = facts.full_size;
    if (whole <= 0 || facts.colour_end > available) return;
    try {
        // A mask the file lacks reads as zeros: nothing transparent.
        std::vector<std::uint8_t> data(static_cast<std::size_t>(whole), 0);
        const std::int64_t present = whole < available ? whole : available;
        if (stream_seek64(stream, offset) != IO_OK ||
            !read_exact(stream, data.data(), static_cast<std::size_t>(present)))
            return;
        bitmap_facts(data, facts);
        rgba_image image;
        if (decode_icon_bitmap(data.data(), data.size(), image, ICON_LIMITS) != image_status::ok) return;
        picture_digest digest;
        digest.start(image.width, image.height);
        digest.add(image.pixels.data(), image.pixels.size());
        facts.decoded = true;
        facts.digest = digest.value();
    } catch (const std::bad_alloc&) {
        // Left undecoded.
    }
}

}  // namespace

void picture_digest::start(std::uint32_t width, std::uint32_t height) {
    hash_ = 14695981039346656037u;
    const std::uint8_t size[8] = {
        static_cast<std::uint8_t>(width),        static_cast<std::uint8_t>(width >> 8),
        static_cast<std::uint8_t>(width >> 16),  static_cast<std::uint8_t>(width >> 24),
        static_cast<std::uint8_t>(height),       static_cast<std::uint8_t>(height >> 8),
        static_cast<std::uint8_t>(height >> 16), static_cast<std::uint8_t>(height >> 24)};
    add(size, sizeof size);
}

void picture_digest::add(const std::uint8_t* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) hash_ = (hash_ ^ bytes[i]) * 1099511628211u;
}

void examine_pixels(std::FILE* stream, std::int32_t index, std::int64_t offset, std::int64_t available,
                    image_facts& facts, std::vector<finding>& out) {
    if (!facts.decodable) return;
    if (facts.kind == image_kind::png) {
        png_pixels(stream, index, offset, facts, out);
    } else if (facts.kind == image_kind::bitmap) {
        bitmap_pixels(stream, offset, available, facts);
    }
}
