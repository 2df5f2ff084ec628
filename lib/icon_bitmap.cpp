#include "icon_bitmap.hpp"

#include <new>

#include "icon_records.hpp"

namespace {

// The largest header an icon's bitmap carries (BITMAPV5HEADER); its fields
// past the first 40 bytes do not change how the pixels are stored for BI_RGB.
constexpr std::int32_t LARGEST_HEADER = 124;
constexpr std::int32_t BI_RGB = 0;

std::int32_t le32_at(const std::uint8_t* p) {
    return static_cast<std::int32_t>(std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                     std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
}
std::uint16_t le16_at(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k)
        out[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(value >> (8 * k));
}

BITMAPINFOHEADER parse_header(const std::uint8_t* p) {
    BITMAPINFOHEADER h{};
    h.biSize = le32_at(p);
    h.biWidth = le32_at(p + 4);
    h.biHeight = le32_at(p + 8);
    h.biPlanes = le16_at(p + 12);
    h.biBitCount = le16_at(p + 14);
    h.biCompression = le32_at(p + 16);
    h.biSizeImage = le32_at(p + 20);
    h.biXPelsPerMeter = le32_at(p + 24);
    h.biYPelsPerMeter = le32_at(p + 28);
    h.biClrUsed = le32_at(p + 32);
    h.biClrImportant = le32_at(p + 36);
    return h;
}

std::size_t row_bytes(std::size_t width, std::size_t bits) { return (width * bits + 31) / 32 * 4; }

}  // namespace

image_status decode_icon_bitmap(const std::uint8_t* data, std::size_t size, rgba_image& image,
                                const image_limits& limits) {
    image = rgba_image{};
    if (size < static_cast<std::size_t>(BITMAPINFOHEADER_SIZE)) return image_status::truncated;
    const BITMAPINFOHEADER h = parse_header(data);
    const unsigned bits = h.biBitCount;
    if (h.biSize < BITMAPINFOHEADER_SIZE || h.biSize > LARGEST_HEADER || h.biCompression != BI_RGB ||
        h.biHeight < 0 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) {
        return image_status::unsupported;
    }
    if (h.biWidth <= 0 || h.biHeight / 2 <= 0) return image_status::corrupt;
    const auto width = static_cast<std::uint32_t>(h.biWidth);
    const auto height = static_cast<std::uint32_t>(h.biHeight / 2);
    if (!image_size_allowed(width, height, limits)) return image_status::too_large;
    // The colour table holds biClrUsed entries when that is fewer than the
    // depth's full table, as every reader but one takes it; an index past
    // its end is black.
    const std::size_t full_table = bits <= 8 ? std::size_t{1} << bits : 0;
    const std::size_t table_entries = h.biClrUsed > 0 && static_cast<std::size_t>(h.biClrUsed) < full_table
                                          ? static_cast<std::size_t>(h.biClrUsed)
                                          : full_table;
    const std::size_t header = static_cast<std::size_t>(h.biSize);
    const std::size_t colour_row = row_bytes(width, bits);
    const std::size_t mask_row = row_bytes(width, 1);
    // Within the limits none of this can overflow.
    const std::size_t needed = header + table_entries * 4 + (colour_row + mask_row) * height;
    if (size < needed) return image_status::truncated;

    const image_status made = make_image(width, height, image, limits);
    if (made != image_status::ok) return made;
    static constexpr std::uint8_t black[4] = {};
    const std::uint8_t* table = data + header;
    const std::uint8_t* colour = table + table_entries * 4;
    const std::uint8_t* mask = colour + colour_row * height;

    bool alpha_seen = false;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* in = colour + colour_row * (height - 1 - y);
        std::uint8_t* out = image.pixels.data() + std::size_t{width} * 4 * y;
        for (std::uint32_t x = 0; x < width; ++x, out += 4) {
            const std::size_t bit = std::size_t{x} * bits;
            const std::size_t entry =
                bits <= 8 ? (in[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1u) : 0;
            const std::uint8_t* bgr =
                bits <= 8 ? (entry < table_entries ? table + entry * 4 : black) : in + bit / 8;
            out[0] = bgr[2];
            out[1] = bgr[1];
            out[2] = bgr[0];
            out[3] = bits == 32 ? bgr[3] : 0;
            alpha_seen = alpha_seen || out[3] != 0;
        }
    }
    if (bits == 32 && alpha_seen) return image_status::ok;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* in = mask + mask_row * (height - 1 - y);
        std::uint8_t* out = image.pixels.data() + std::size_t{width} * 4 * y;
        for (std::uint32_t x = 0; x < width; ++x, out += 4) {
            const bool transparent = ((in[x / 8] >> (7 - x % 8)) & 1u) != 0;
            out[3] = transparent ? 0 : 255;
        }
    }
    return image_status::ok;
}

image_status encode_icon_bitmap(const rgba_image& image, std::vector<std::uint8_t>& bitmap) {
    // Icons are at most 256 pixels a side; the limit keeps every size field
    // far inside 32 bits.
    if (!image_size_allowed(image.width, image.height, {}) ||
        image.pixels.size() != std::size_t{image.width} * image.height * 4) {
        return image_status::too_large;
    }
    const std::size_t width = image.width;
    const std::size_t height = image.height;
    const std::size_t colour_row = width * 4;
    const std::size_t mask_row = row_bytes(width, 1);
    const std::size_t header = static_cast<std::size_t>(BITMAPINFOHEADER_SIZE);
    try {
        std::vector<std::uint8_t> out(header + (colour_row + mask_row) * height, 0);
        put32(out, 0, static_cast<std::uint32_t>(BITMAPINFOHEADER_SIZE));
        put32(out, 4, image.width);
        put32(out, 8, image.height * 2);
        out[12] = 1;                                                                   // biPlanes
        out[14] = 32;                                                                  // biBitCount
        put32(out, 20, static_cast<std::uint32_t>((colour_row + mask_row) * height));  // biSizeImage
        std::uint8_t* colour = out.data() + header;
        std::uint8_t* mask = colour + colour_row * height;
        for (std::size_t y = 0; y < height; ++y) {
            const std::uint8_t* in = image.pixels.data() + colour_row * y;
            std::uint8_t* row = colour + colour_row * (height - 1 - y);
            std::uint8_t* mask_bits = mask + mask_row * (height - 1 - y);
            for (std::size_t x = 0; x < width; ++x, in += 4, row += 4) {
                if (in[3] == 0) {
                    mask_bits[x / 8] = static_cast<std::uint8_t>(mask_bits[x / 8] | 0x80u >> (x % 8));
                    continue;  // black, alpha 0
                }
                row[0] = in[2];
                row[1] = in[1];
                row[2] = in[0];
                row[3] = in[3];
            }
        }
        bitmap.swap(out);
        return image_status::ok;
    } catch (const std::bad_alloc&) {
        return image_status::no_memory;
    }
}
