// Where icon-extract turns a bitmap image into a PNG file: its one use of
// the image layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Decodes the bitmap image of an icon or cursor (`size` bytes from its
// BITMAPINFOHEADER: colour table, colour rows and AND mask, the mask as
// alpha) and encodes exactly its pixels as the smallest PNG stream that
// icon readers show right, in `png`. Answers false, with the reason in
// `error`, when it cannot.
bool bitmap_to_png(const std::uint8_t* image, std::size_t size, std::vector<std::uint8_t>& png,
                   std::string& error);
