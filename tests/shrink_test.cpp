// The shrinking pass: exact values on tiny images, exact coverage for
// ratios that are not whole numbers, no fringe at transparent edges, thin
// lines kept, linear light, and the streaming interface's contract.
#include "shrink.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

using bytes = std::vector<std::uint8_t>;
using px = std::array<std::uint8_t, 4>;

namespace {

rgba_image image_of(std::uint32_t width, std::uint32_t height, const std::vector<px>& pixels) {
    rgba_image image;
    make_image(width, height, image);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        std::copy(pixels[i].begin(), pixels[i].end(), image.pixels.begin() + std::ptrdiff_t(i * 4));
    return image;
}

template <typename Paint>
rgba_image painted(std::uint32_t side, Paint paint) {
    rgba_image image;
    make_image(side, side, image);
    for (std::uint32_t y = 0; y < side; ++y) {
        for (std::uint32_t x = 0; x < side; ++x) {
            const px p = paint(x, y);
            std::copy(p.begin(), p.end(),
                      image.pixels.begin() + std::ptrdiff_t((std::size_t{y} * side + x) * 4));
        }
    }
    return image;
}

px pixel(const rgba_image& image, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = image.pixels.data() + (std::size_t{y} * image.width + x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

struct exact_row {
    const char* name;
    rgba_image source;
    std::uint32_t width, height;
    colour_space space;
    std::vector<px> want;
};

TEST(Shrink, ExactValuesOnTinyImages) {
    const px red{255, 0, 0, 255};
    const px clear_green{0, 255, 0, 0};
    const std::vector<exact_row> rows = {
        {"2 x 2 to 1",
         image_of(2, 2, {{0, 0, 0, 255}, {255, 255, 255, 255}, {10, 20, 30, 255}, {30, 20, 10, 255}}),
         1,
         1,
         colour_space::srgb,
         {{74, 74, 74, 255}}},  // 295 / 4 = 73.75, 295 / 4, 295 / 4
        {"premultiplied: red beside transparent green",
         image_of(2, 1, {red, clear_green}),
         1,
         1,
         colour_space::srgb,
         {{255, 0, 0, 128}}},
        {"half-transparent pixels weigh half",
         image_of(2, 1, {{200, 0, 0, 255}, {0, 0, 100, 127}}),
         1,
         1,
         colour_space::srgb,
         {{134, 0, 33, 191}}},  // 51000 / 382, 12700 / 382, 382 / 2
        {"3 to 2: weights 2/3 and 1/3",
         image_of(3, 1, {{0, 0, 0, 255}, {90, 90, 90, 255}, {255, 255, 255, 255}}),
         2,
         1,
         colour_space::srgb,
         {{30, 30, 30, 255}, {200, 200, 200, 255}}},
        {"5 to 2: the middle pixel split",
         image_of(5, 1,
                  {{10, 0, 0, 255}, {20, 0, 0, 255}, {30, 0, 0, 255}, {40, 0, 0, 255}, {50, 0, 0, 255}}),
         2,
         1,
         colour_space::srgb,
         {{18, 0, 0, 255}, {42, 0, 0, 255}}},  // (2 * 10 + 2 * 20 + 30) / 5 = 18
        {"all transparent stays transparent black",
         image_of(2, 2, {clear_green, clear_green, {9, 9, 9, 0}, clear_green}),
         1,
         1,
         colour_space::srgb,
         {{0, 0, 0, 0}}},
        {"a trace of alpha rounds to transparent",
         image_of(4, 1, {{255, 255, 255, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}),
         1,
         1,
         colour_space::srgb,
         {{0, 0, 0, 0}}},
        {"same size: unchanged",
         image_of(2, 1, {{1, 2, 3, 4}, {250, 251, 252, 255}}),
         2,
         1,
         colour_space::srgb,
         {{1, 2, 3, 4}, {250, 251, 252, 255}}},
        // Linear light: black and white average to 0.5, which is sRGB 188.
        {"linear: black and white",
         image_of(2, 1, {{0, 0, 0, 255}, {255, 255, 255, 255}}),
         1,
         1,
         colour_space::linear,
         {{188, 188, 188, 255}}},
        {"linear: one value stays itself",
         image_of(2, 1, {{77, 77, 77, 255}, {77, 77, 77, 255}}),
         1,
         1,
         colour_space::linear,
         {{77, 77, 77, 255}}},
    };
    for (const exact_row& r : rows) {
        SCOPED_TRACE(r.name);
        rgba_image out;
        ASSERT_EQ(shrink_image(r.source, r.width, r.height, out, r.space), image_status::ok);
        ASSERT_EQ(out.width, r.width);
        ASSERT_EQ(out.height, r.height);
        for (std::uint32_t i = 0; i < r.width * r.height; ++i)
            EXPECT_EQ(pixel(out, i % r.width, i / r.width), r.want[i]) << i;
    }
}

// An opaque red square on transparent black, and on transparent green:
// every pixel that shows anything is pure red (within 1), at every size.
TEST(Shrink, NoFringeAtTransparentEdges) {
    for (const px background : {px{0, 0, 0, 0}, px{0, 255, 0, 0}}) {
        const rgba_image master = painted(1024, [&](std::uint32_t x, std::uint32_t y) {
            const bool inside = x >= 301 && x < 777 && y >= 123 && y < 901;
            return inside ? px{255, 0, 0, 255} : background;
        });
        for (const std::uint32_t size : {16u, 20u, 24u, 32u, 40u, 48u, 64u, 256u}) {
            SCOPED_TRACE(std::to_string(size) + (background[1] != 0 ? " on green" : " on black"));
            rgba_image out;
            ASSERT_EQ(shrink_image(master, size, size, out), image_status::ok);
            std::size_t edges = 0;
            for (std::uint32_t i = 0; i < size * size; ++i) {
                const px p = pixel(out, i % size, i / size);
                if (p[3] == 0) continue;
                edges += p[3] != 255;
                EXPECT_GE(p[0], 254) << i;
                EXPECT_LE(p[1], 1) << i;
                EXPECT_LE(p[2], 1) << i;
            }
            EXPECT_GT(edges, 0u);
        }
    }
}

// A 1-pixel black line in a white 1024 px image covers 1/64 of a 16 px
// pixel: its column stays 4 levels darker (255 * 63 / 64 = 251), the rest white.
TEST(Shrink, ThinLinesStayVisible) {
    const rgba_image master = painted(1024, [](std::uint32_t x, std::uint32_t) {
        return x == 700 ? px{0, 0, 0, 255} : px{255, 255, 255, 255};
    });
    for (const std::uint32_t size : {16u, 20u, 48u}) {
        SCOPED_TRACE(size);
        rgba_image out;
        ASSERT_EQ(shrink_image(master, size, size, out), image_status::ok);
        const std::uint32_t column = 700 * size / 1024;
        for (std::uint32_t x = 0; x < size; ++x) {
            const px p = pixel(out, x, size / 2);
            if (x == column) {
                EXPECT_LE(p[0], 255 - 255 * size / 1024) << x;
                EXPECT_GE(p[0], 255 - 255 * size / 1024 - 1) << x;
            } else {
                EXPECT_EQ(p[0], 255) << x;
            }
        }
    }
}

// 1024 to 20, 24, 40 and 48: a target pixel covers 51.2, 42.67, 25.6 and
// 21.33 source pixels. The left 500 columns opaque: the pixel over the edge
// at 500 * size / 1024 takes exactly its covered share of alpha.
TEST(Shrink, NonIntegerRatiosCoverExactly) {
    const rgba_image master = painted(1024, [](std::uint32_t x, std::uint32_t) {
        return x < 500 ? px{10, 20, 30, 255} : px{0, 0, 0, 0};
    });
    struct ratio_row {
        std::uint32_t size;
        std::uint32_t edge;  // the pixel the edge falls in
        std::uint8_t alpha;  // round(255 * covered part)
    };
    for (const ratio_row& r :
         {ratio_row{20, 9, 195}, ratio_row{24, 11, 183}, ratio_row{40, 19, 135}, ratio_row{48, 23, 112}}) {
        SCOPED_TRACE(r.size);
        rgba_image out;
        ASSERT_EQ(shrink_image(master, r.size, r.size, out), image_status::ok);
        for (std::uint32_t y = 0; y < r.size; ++y) {
            for (std::uint32_t x = 0; x < r.size; ++x) {
                const px want = x < r.edge    ? px{10, 20, 30, 255}
                                : x == r.edge ? px{10, 20, 30, r.alpha}
                                              : px{0, 0, 0, 0};
                ASSERT_EQ(pixel(out, x, y), want) << x << ", " << y;
            }
        }
    }
}

TEST(Shrink, RowsAreStreamed) {
    const rgba_image small = image_of(2, 2, {{1, 1, 1, 255}, {1, 1, 1, 255}, {1, 1, 1, 255}, {1, 1, 1, 255}});
    rgba_image out;
    EXPECT_EQ(shrink_image(small, 3, 1, out), image_status::would_enlarge);
    EXPECT_EQ(shrink_image(small, 1, 3, out), image_status::would_enlarge);
    EXPECT_EQ(shrink_image(small, 0, 1, out), image_status::too_large);
    // Fed by hand, one row short: no image.
    image_shrinker shrinker(1, 1);
    ASSERT_EQ(shrinker.begin(2, 2), image_status::ok);
    shrinker.row(0, small.pixels.data());
    EXPECT_EQ(shrinker.finish(out), image_status::truncated);
    shrinker.row(1, small.pixels.data() + 8);
    ASSERT_EQ(shrinker.finish(out), image_status::ok);
    EXPECT_EQ(pixel(out, 0, 0), (px{1, 1, 1, 255}));
}

}  // namespace
