// SVG rendering where the build has librsvg, and the clear refusal where it
// has not; which bytes count as an SVG document.
#include "svg_render.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;

bytes text(const std::string& s) { return {s.begin(), s.end()}; }

// A red rectangle over the left half of a 4 x 4 drawing.
const std::string half_red =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\" viewBox=\"0 0 4 4\">"
    "<rect x=\"0\" y=\"0\" width=\"2\" height=\"4\" fill=\"#ff0000\"/></svg>";

TEST(SvgRender, RendersAtTheSizeAskedFor) {
    const bytes svg = text(half_red);
    rgba_image image;
    std::string message;
    if (!svg_supported()) {
        EXPECT_EQ(render_svg(svg.data(), svg.size(), 8, 8, image, message), image_status::svg_unsupported);
        EXPECT_EQ(std::string(svg_renderer_version()), "no SVG support");
        return;
    }
    EXPECT_EQ(std::string(svg_renderer_version()).rfind("librsvg ", 0), 0u);
    for (const std::uint32_t side : {4u, 8u, 6u}) {
        SCOPED_TRACE(side);
        ASSERT_EQ(render_svg(svg.data(), svg.size(), side, side, image, message), image_status::ok);
        ASSERT_EQ(image.width, side);
        for (std::uint32_t y = 0; y < side; ++y) {
            for (std::uint32_t x = 0; x < side; ++x) {
                const std::uint8_t* p = image.pixels.data() + (std::size_t{y} * side + x) * 4;
                const bytes got(p, p + 4);
                EXPECT_EQ(got, x < side / 2 ? bytes({255, 0, 0, 255}) : bytes({0, 0, 0, 0}))
                    << x << ", " << y;
            }
        }
    }
    const bytes broken = text("<svg xmlns=\"http://www.w3.org/2000/svg\"><rect");
    EXPECT_EQ(render_svg(broken.data(), broken.size(), 4, 4, image, message), image_status::svg_invalid);
    EXPECT_FALSE(message.empty());
    EXPECT_TRUE(image.pixels.empty());
    EXPECT_EQ(render_svg(svg.data(), svg.size(), 0, 4, image, message), image_status::too_large);
}

TEST(SvgRender, WhatLooksLikeAnSvgDocument) {
    struct row {
        std::string data;
        bool svg;
    };
    for (const row& r : std::vector<row>{{"<svg ", true},
                                         {"<?xml version=\"1.0\"?>", true},
                                         {"\xEF\xBB\xBF  \n<svg", true},
                                         {"<sv", false},
                                         {"\x89PNG\r\n", false},
                                         {"", false},
                                         {"<html>", false}}) {
        const bytes data = text(r.data);
        EXPECT_EQ(looks_like_svg(data.data(), data.size()), r.svg) << r.data;
    }
}

}  // namespace
