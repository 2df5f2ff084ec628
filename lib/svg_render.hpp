// SVG documents rendered at a requested size, through librsvg where the
// build has it (ICON_SVG). A build without it still has these functions:
// svg_supported() is false and render_svg() answers svg_unsupported, so a
// program can refuse an SVG input with a clear message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "rgba_image.hpp"

bool svg_supported();

// "librsvg 2.54.7", or "no SVG support" in a build without it: for --version.
const char* svg_renderer_version();

// True when `data` starts like an SVG or XML document (after blanks and a
// byte order mark): "<svg" or "<?xml".
bool looks_like_svg(const std::uint8_t* data, std::size_t size);

// Renders the SVG document `data` into a width x height image, its whole
// drawing scaled to fit and centred, keeping its aspect ratio; the rest is
// transparent. References to other files are not followed. On svg_invalid,
// `message` holds the renderer's reason.
image_status render_svg(const std::uint8_t* data, std::size_t size, std::uint32_t width, std::uint32_t height,
                        rgba_image& image, std::string& message);
