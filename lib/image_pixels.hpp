// The pixels of an icon's images, for the checks: each image whose
// structure allows it (at most 256 pixels a side) is decoded through the
// image layer, and what readers make of its pixels is summed up in its
// facts: a digest of the picture, and a bitmap's mask and alpha as Windows
// draws them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "image_checks.hpp"

// Decodes the image that examine_image examined at `offset` of `stream`, of
// which `available` bytes lie in the file, and fills the facts of its
// pixels. PNG data that does not decode is a finding (png-data). Memory is
// a bitmap's bytes (under 300 KB) and its picture, or a PNG decoder's rows,
// whatever the image's size in the file.
void examine_pixels(std::FILE* stream, std::int32_t index, std::int64_t offset, std::int64_t available,
                    image_facts& facts, std::vector<finding>& out);

// FNV-1a, 64 bits, over the size and the RGBA rows.
class picture_digest {
   public:
    void start(std::uint32_t width, std::uint32_t height);
    void add(const std::uint8_t* bytes, std::size_t size);
    std::uint64_t value() const { return hash_; }

   private:
    std::uint64_t hash_ = 14695981039346656037u;
};
