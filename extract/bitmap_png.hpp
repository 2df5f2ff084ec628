// Where icon-extract turns a bitmap image into a PNG file: its one use of
// the image layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Decodes the bitmap image of an icon or cursor (`size` bytes from its
// BITMAPINFOHEADER: colour table, colour rows and AND mask) and encodes its
// pixels as a PNG stream in `png`. Answers false, with a one-sentence
// reason in `error`, when it cannot.
bool bitmap_to_png(const std::uint8_t* image, std::size_t size, std::vector<std::uint8_t>& png,
                   std::string& error);
