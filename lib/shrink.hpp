// Shrinking RGBA the way a vector renderer would have drawn the smaller
// size: each target pixel is the average of the source pixels under it,
// each weighted by the area of the target pixel it covers (a box filter
// with exact coverage, also for ratios such as 1024 to 20). A renderer's
// anti-aliasing is exactly such coverage, blended in sRGB values; measured
// against SVG icons drawn directly at each size, this kernel in sRGB came
// closest of those tried (bench/quality.py, bench/README.md).
//
// Colours are averaged premultiplied by alpha, so transparent pixels lend
// no colour to an edge, and a thin line keeps its share of every pixel it
// crosses. The arithmetic is exact integer arithmetic: weights are whole
// numbers in units of 1 / (source * target) of a pixel, the sums 64-bit,
// each result rounded half up once. The same input gives the same bytes
// on every host.
//
// linear averages in linear light instead (sRGB decoded by a fixed table),
// which suits photographs; icons drawn by renderers come out further from
// their direct renders that way.
#pragma once

#include <cstdint>
#include <vector>

#include "rgba_image.hpp"

enum class colour_space : std::uint8_t { srgb, linear };

// A shrinking pass fed row by row, so that a decoder can hand it rows as it
// makes them: memory is a few rows of the target, whatever the source.
// After begin() accepted the source size, row() must be called for each
// source row in order; then finish() gives the image.
class image_shrinker final : public rgba_row_sink {
   public:
    image_shrinker(std::uint32_t width, std::uint32_t height, colour_space space = colour_space::srgb);
    // would_enlarge when the source is smaller than the target on either side.
    image_status begin(std::uint32_t width, std::uint32_t height) override;
    void row(std::uint32_t y, const std::uint8_t* rgba) override;
    // Answers the target image once every source row has come.
    image_status finish(rgba_image& image);

   private:
    struct axis {
        std::vector<std::uint32_t> first;   // target index of each source index
        std::vector<std::uint32_t> weight;  // its weight there; the rest goes to first + 1
        std::uint64_t source = 0;
        std::uint64_t target = 0;
    };
    static axis make_axis(std::uint32_t source, std::uint32_t target);
    void finish_row(std::uint32_t target_row);

    std::uint32_t width_;
    std::uint32_t height_;
    colour_space space_;
    axis x_;
    axis y_;
    std::vector<std::uint64_t> horizontal_;  // the current source row, shrunk across
    std::vector<std::uint64_t> current_;     // sums of the target row under way
    std::vector<std::uint64_t> next_;        // and of the one below it
    std::uint32_t current_row_ = 0;
    std::uint32_t rows_seen_ = 0;
    rgba_image out_;
};

// Shrinks `source` to width x height (each at most the source's side).
image_status shrink_image(const rgba_image& source, std::uint32_t width, std::uint32_t height,
                          rgba_image& out, colour_space space = colour_space::srgb);
