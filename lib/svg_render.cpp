#include "svg_render.hpp"

#include <algorithm>
#include <cstring>

#ifdef ICON_HAVE_SVG
#include <cairo.h>
#include <librsvg/rsvg.h>

#include <memory>
#endif

bool looks_like_svg(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) at = 3;
    while (at < size && (data[at] == ' ' || data[at] == '\t' || data[at] == '\r' || data[at] == '\n')) ++at;
    const auto starts = [&](const char* text) {
        const std::size_t n = std::strlen(text);
        return size - at >= n && std::memcmp(data + at, text, n) == 0;
    };
    return starts("<svg") || starts("<?xml");
}

#ifdef ICON_HAVE_SVG

namespace {

struct unref_object {
    void operator()(void* object) const { g_object_unref(object); }
};
struct destroy_surface {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct destroy_cairo {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

}  // namespace

bool svg_supported() { return true; }

const char* svg_renderer_version() { return "librsvg " LIBRSVG_VERSION; }

image_status render_svg(const std::uint8_t* data, std::size_t size, std::uint32_t width, std::uint32_t height,
                        rgba_image& image, std::string& message) {
    image = rgba_image{};
    if (!image_size_allowed(width, height, {}) || width > 32767 || height > 32767)
        return image_status::too_large;
    GError* error = nullptr;
    const std::unique_ptr<RsvgHandle, unref_object> handle(rsvg_handle_new_from_data(data, size, &error));
    if (!handle) {
        message = error != nullptr ? error->message : "not an SVG document";
        if (error != nullptr) g_error_free(error);
        return image_status::svg_invalid;
    }
    const std::unique_ptr<cairo_surface_t, destroy_surface> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width), static_cast<int>(height)));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return image_status::no_memory;
    const std::unique_ptr<cairo_t, destroy_cairo> cr(cairo_create(surface.get()));
    const RsvgRectangle viewport{0, 0, static_cast<double>(width), static_cast<double>(height)};
    if (rsvg_handle_render_document(handle.get(), cr.get(), &viewport, &error) == FALSE) {
        message = error != nullptr ? error->message : "rendering failed";
        if (error != nullptr) g_error_free(error);
        return image_status::svg_invalid;
    }
    cairo_surface_flush(surface.get());
    const image_status made = make_image(width, height, image);
    if (made != image_status::ok) return made;
    // Cairo's pixels: 32-bit words in host order, alpha in the top byte,
    // colour premultiplied.
    const unsigned char* pixels = cairo_image_surface_get_data(surface.get());
    const auto stride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface.get()));
    for (std::uint32_t y = 0; y < height; ++y) {
        const unsigned char* in = pixels + stride * y;
        std::uint8_t* out = image.pixels.data() + std::size_t{width} * 4 * y;
        for (std::uint32_t x = 0; x < width; ++x, in += 4, out += 4) {
            std::uint32_t word = 0;
            std::memcpy(&word, in, 4);
            const std::uint32_t a = word >> 24;
            out[3] = static_cast<std::uint8_t>(a);
            if (a == 0) continue;
            for (int c = 0; c < 3; ++c) {
                const std::uint32_t premultiplied = (word >> (16 - 8 * c)) & 0xFFu;
                out[c] = static_cast<std::uint8_t>(
                    std::min<std::uint32_t>(255, (premultiplied * 255 + a / 2) / a));
            }
        }
    }
    return image_status::ok;
}

#else

bool svg_supported() { return false; }

const char* svg_renderer_version() { return "no SVG support"; }

image_status render_svg(const std::uint8_t*, std::size_t, std::uint32_t, std::uint32_t, rgba_image& image,
                        std::string& message) {
    image = rgba_image{};
    message.clear();
    return image_status::svg_unsupported;
}

#endif
