#include "rgba_image.hpp"

#include <cstring>
#include <new>

const char* image_status_text(image_status status) {
    switch (status) {
        case image_status::ok: return "no error";
        case image_status::corrupt: return "corrupt image data";
        case image_status::truncated: return "image data cut short";
        case image_status::not_inflating: return "compressed image data does not inflate";
        case image_status::too_large: return "image too large to decode";
        case image_status::unsupported: return "unsupported image format";
        case image_status::no_memory: return "out of memory";
        case image_status::would_enlarge: return "image smaller than the size asked for";
        case image_status::svg_unsupported: return "SVG is not supported by this build";
        case image_status::svg_invalid: return "SVG could not be rendered";
    }
    return "unknown error";
}

bool image_size_allowed(std::uint64_t width, std::uint64_t height, const image_limits& limits) {
    if (width == 0 || height == 0 || width > limits.max_side || height > limits.max_side) return false;
    // Both sides are at most 2^32 - 1, so the product cannot wrap.
    return width * height <= limits.max_pixels && width * height <= IMAGE_MAX_PIXELS;
}

image_status make_image(std::uint32_t width, std::uint32_t height, rgba_image& image,
                        const image_limits& limits) {
    if (!image_size_allowed(width, height, limits)) return image_status::too_large;
    try {
        image.pixels.assign(std::size_t{width} * height * 4, 0);
    } catch (const std::bad_alloc&) {
        image = rgba_image{};
        return image_status::no_memory;
    }
    image.width = width;
    image.height = height;
    return image_status::ok;
}

image_status rgba_image_sink::begin(std::uint32_t width, std::uint32_t height) {
    return make_image(width, height, image_);
}

void rgba_image_sink::row(std::uint32_t y, const std::uint8_t* rgba) {
    const std::size_t stride = std::size_t{image_.width} * 4;
    std::memcpy(image_.pixels.data() + stride * y, rgba, stride);
}
