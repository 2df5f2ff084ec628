// Packing PNG files and the images of icon or cursor files into one new
// icon or cursor file, every image's bytes unchanged, and making the sizes
// asked for that no input has, from the best input: an SVG drawing, or the
// smallest larger image.
//
// The scan reads each input once: a PNG file is one image; an icon or cursor
// file gives each image of its directory; an SVG file is a drawing. Every
// image is examined by the image checks, and its new directory entry is
// made from what its own bytes say, never copied. Any error ends the run
// before anything is written. With sizes asked for, each size that an input
// image has is kept, and every other is made: drawn from the SVG input, or
// decoded from the smallest square image larger than it and shrunk (never
// enlarged), then encoded as PNG or as a 32-bit bitmap with its mask. The
// images are then ordered (largest first, then deeper), an image with the
// size and depth of an earlier one is skipped, and the output is written
// beside its final path and renamed over it once complete, so a failed run
// leaves an existing output as it was.
#pragma once

#include <cstdint>
#include <vector>

#include "rgba_image.hpp"

struct pack_request {
    const char* output = nullptr;
    std::vector<const char*> inputs;
    bool keep_order = false;  // the images in the order given (with sizes: in the order of the sizes)
    // The sides of the square images to write, each 1 to 256, once each,
    // in the order given; empty: every image of the inputs, as it is.
    std::vector<std::uint32_t> sizes;
    // Sizes (among `sizes`) whose made image is a 32-bit bitmap with a
    // mask rather than PNG, for readers that take no PNG.
    std::vector<std::uint32_t> bitmap_sizes;
    bool linear = false;  // shrink in linear light rather than in sRGB values
    bool quiet = false;   // no listing on standard output
    // The largest source image decoded, checked from its header before
    // anything is allocated.
    image_limits source_limits = {};
};

// The whole run after the command line: answers 0 when the output was
// written completely, else 1. Problems go to standard error as
// "PATH: severity: message [id]", or "PATH: image N: ..." for one image of
// an icon file; the images written are listed on standard output unless
// quiet.
int pack_icons(const pack_request& request);
