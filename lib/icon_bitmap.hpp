// An icon's bitmap images to RGBA and back.
//
// A bitmap image, as an icon holds it (offsets from its first byte, fields
// least significant byte first):
//
//   0         BITMAPINFOHEADER, biSize bytes (40 or more); biHeight is twice
//             the icon's height, for the colour rows and the mask rows
//   biSize    colour table for 1, 4 and 8 bits: 2^biBitCount entries of
//             blue, green, red and a reserved byte, or biClrUsed entries
//             when that is fewer
//   then      height rows of colour, bottom row first: palette indices
//             packed from the most significant bit, or blue, green, red
//             (24 bits), or blue, green, red, alpha (32 bits)
//   then      height rows of the AND mask, 1 bit a pixel, bottom row first:
//             1 means transparent
//
// Every row is padded to a multiple of 4 bytes; with a full colour table
// and a header of 40 the whole is expected_image_size() bytes. Alpha comes
// from a 32-bit image's own alpha, unless every pixel's alpha is 0 (images
// made before alpha was read): then, as for every other depth, the mask
// decides (transparent 0, else 255). A transparent pixel keeps its stored
// colour; a palette index past the table's end is black.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rgba_image.hpp"

// Decodes a BI_RGB bitmap image of 1, 4, 8, 24 or 32 bits. truncated when
// `size` is below the size its header implies; unsupported for other depths,
// compression or a top-down (negative) height; corrupt for a header whose
// sizes make no image.
image_status decode_icon_bitmap(const std::uint8_t* data, std::size_t size, rgba_image& image,
                                const image_limits& limits = {});

// Replaces `bitmap` with a 32-bit bitmap image of `image`: alpha as given,
// the mask set where alpha is 0, whose colour is written as black (readers
// that ignore alpha draw masked pixels by XOR with the screen).
image_status encode_icon_bitmap(const rgba_image& image, std::vector<std::uint8_t>& bitmap);
