// The image layer over arbitrary bytes: the PNG or the bitmap decoder (by
// the first byte), then shrinking what decoded and encoding it again. A
// decoder must answer without crashing; what it decodes must have the size
// it says; a shrunk image keeps its alpha and colours within the source's
// range, with transparent pixels black; a PNG and a bitmap encoded from
// pixels must decode to exactly those pixels.
//
// Input: byte 0 bit 0 picks the bitmap decoder, bit 1 has every PNG chunk's
// CRC made right first (so that changed bytes reach the decoder's later
// stages); bytes 1 and 2 pick the shrunk width and height; byte 3 bit 0
// linear light; the image from byte 4.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_support.hpp"
#include "icon_bitmap.hpp"
#include "png_codec.hpp"
#include "png_records.hpp"
#include "shrink.hpp"

using fuzz::check;

namespace {

// Icons are at most 256 pixels a side; a little more keeps the limits' edge
// in reach, and memory within the fuzzer's.
constexpr image_limits LIMITS{300, std::uint64_t{300} * 300};
// Encoding tries many settings: round trips only on images up to 64 x 64.
constexpr std::size_t ROUND_TRIP_PIXELS = 4096;

bool well_formed(const rgba_image& image) {
    return image.width > 0 && image.height > 0 &&
           image.pixels.size() == std::size_t{image.width} * image.height * 4;
}

void check_shrunk(const rgba_image& source, const rgba_image& out) {
    std::uint8_t low[4] = {255, 255, 255, 255};
    std::uint8_t high[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < source.pixels.size(); i += 4) {
        const std::uint8_t* p = source.pixels.data() + i;
        // Colour counts only where it shows.
        for (int c = p[3] == 0 ? 3 : 0; c < 4; ++c) {
            low[c] = std::min(low[c], p[c]);
            high[c] = std::max(high[c], p[c]);
        }
    }
    for (std::size_t i = 0; i < out.pixels.size(); i += 4) {
        const std::uint8_t* p = out.pixels.data() + i;
        check(p[3] >= low[3] && p[3] <= high[3], "a shrunk alpha outside the source's range");
        if (p[3] == 0) {
            check(p[0] == 0 && p[1] == 0 && p[2] == 0, "a transparent shrunk pixel is not black");
            continue;
        }
        for (int c = 0; c < 3; ++c)
            check(p[c] >= low[c] && p[c] <= high[c], "a shrunk colour outside the source's range");
    }
}

std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// Rewrites the CRC of every whole chunk after the signature.
void fix_crcs(std::vector<std::uint8_t>& png) {
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const std::size_t length = be32(png.data() + at);
        if (length > png.size() - at - 12) break;
        const std::uint32_t crc = crc32_update(0, png.data() + at + 4, length + 4);
        for (int k = 0; k < 4; ++k) png[at + 8 + length + std::size_t(k)] = std::uint8_t(crc >> (24 - 8 * k));
        at += length + 12;
    }
}

void check_round_trips(const rgba_image& image) {
    std::vector<std::uint8_t> png;
    check(encode_png(image, png) == image_status::ok, "encode_png failed");
    rgba_image back;
    check(decode_png(png.data(), png.size(), back) == image_status::ok, "an encoded PNG does not decode");
    check(back.width == image.width && back.height == image.height && back.pixels == image.pixels,
          "an encoded PNG decodes to other pixels");
    std::vector<std::uint8_t> bitmap;
    check(encode_icon_bitmap(image, bitmap) == image_status::ok, "encode_icon_bitmap failed");
    check(decode_icon_bitmap(bitmap.data(), bitmap.size(), back) == image_status::ok,
          "an encoded bitmap does not decode");
    rgba_image want = image;
    for (std::size_t i = 0; i < want.pixels.size(); i += 4) {
        if (want.pixels[i + 3] == 0) want.pixels[i] = want.pixels[i + 1] = want.pixels[i + 2] = 0;
    }
    check(back.pixels == want.pixels, "an encoded bitmap decodes to other pixels");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::vector<std::uint8_t> input(data + 4, data + size);
    if ((data[0] & 2) != 0) fix_crcs(input);
    rgba_image image;
    const image_status status = (data[0] & 1) != 0
                                    ? decode_icon_bitmap(input.data(), input.size(), image, LIMITS)
                                    : decode_png(input.data(), input.size(), image, LIMITS);
    if (status != image_status::ok) {
        check(image.pixels.empty() && image.width == 0, "a failed decode left pixels");
        return 0;
    }
    check(well_formed(image), "a decoded image's size does not match its pixels");
    check(image.width <= LIMITS.max_side && image.height <= LIMITS.max_side,
          "a decoded image beyond the limits");

    const std::uint32_t width = 1 + data[1] % image.width;
    const std::uint32_t height = 1 + data[2] % image.height;
    rgba_image small;
    const colour_space space = (data[3] & 1) != 0 ? colour_space::linear : colour_space::srgb;
    check(shrink_image(image, width, height, small, space) == image_status::ok, "shrinking failed");
    check(small.width == width && small.height == height && well_formed(small),
          "a shrunk image has another size");
    check_shrunk(image, small);
    if (std::size_t{image.width} * image.height <= ROUND_TRIP_PIXELS) check_round_trips(image);
    if (std::size_t{width} * height <= ROUND_TRIP_PIXELS) check_round_trips(small);
    return 0;
}
