#include "svg_render.hpp"

#include <algorithm>
#include <cstring>

#ifdef ICON_HAVE_SVG
#include <cairo.h>
#include <librsvg/rsvg.h>

#include <memory>

#include "platform.hpp"
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

// librsvg and the cairo and GLib functions it is used through, loaded at the
// first SVG document: a program that is given none never loads them.
struct svg_library {
    decltype(&rsvg_handle_new_from_data) new_from_data = nullptr;
    decltype(&rsvg_handle_render_document) render_document = nullptr;
    decltype(&g_object_unref) object_unref = nullptr;
    decltype(&g_error_free) error_free = nullptr;
    decltype(&cairo_image_surface_create) surface_create = nullptr;
    decltype(&cairo_surface_status) surface_status = nullptr;
    decltype(&cairo_surface_flush) surface_flush = nullptr;
    decltype(&cairo_surface_destroy) surface_destroy = nullptr;
    decltype(&cairo_image_surface_get_data) surface_data = nullptr;
    decltype(&cairo_image_surface_get_stride) surface_stride = nullptr;
    decltype(&cairo_create) create = nullptr;
    decltype(&cairo_destroy) destroy = nullptr;
    bool loaded = false;
};

template <typename F>
bool find(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(library_function(library, name));
    return function != nullptr;
}

// The library, loaded once; null when it cannot be.
const svg_library* rsvg() {
    static const svg_library library = [] {
        svg_library l;
        void* handle = load_library(ICON_RSVG_LIBRARY);
        l.loaded = handle != nullptr && find(handle, "rsvg_handle_new_from_data", l.new_from_data) &&
                   find(handle, "rsvg_handle_render_document", l.render_document) &&
                   find(handle, "g_object_unref", l.object_unref) &&
                   find(handle, "g_error_free", l.error_free) &&
                   find(handle, "cairo_image_surface_create", l.surface_create) &&
                   find(handle, "cairo_surface_status", l.surface_status) &&
                   find(handle, "cairo_surface_flush", l.surface_flush) &&
                   find(handle, "cairo_surface_destroy", l.surface_destroy) &&
                   find(handle, "cairo_image_surface_get_data", l.surface_data) &&
                   find(handle, "cairo_image_surface_get_stride", l.surface_stride) &&
                   find(handle, "cairo_create", l.create) && find(handle, "cairo_destroy", l.destroy);
        return l;
    }();
    return library.loaded ? &library : nullptr;
}

}  // namespace

bool svg_supported() { return true; }

const char* svg_renderer_version() { return "librsvg " LIBRSVG_VERSION; }

image_status render_svg(const std::uint8_t* data, std::size_t size, std::uint32_t width, std::uint32_t height,
                        rgba_image& image, std::string& message) {
    image = rgba_image{};
    if (!image_size_allowed(width, height, {}) || width > 32767 || height > 32767)
        return image_status::too_large;
    const svg_library* l = rsvg();
    if (l == nullptr) {
        message = "can't load " ICON_RSVG_LIBRARY;
        return image_status::svg_unsupported;
    }
    const auto unref = [l](RsvgHandle* handle) { l->object_unref(handle); };
    const auto destroy_surface = [l](cairo_surface_t* surface) { l->surface_destroy(surface); };
    const auto destroy_cairo = [l](cairo_t* cr) { l->destroy(cr); };
    GError* error = nullptr;
    const std::unique_ptr<RsvgHandle, decltype(unref)> handle(l->new_from_data(data, size, &error), unref);
    if (!handle) {
        message = error != nullptr ? error->message : "not an SVG document";
        if (error != nullptr) l->error_free(error);
        return image_status::svg_invalid;
    }
    const std::unique_ptr<cairo_surface_t, decltype(destroy_surface)> surface(
        l->surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width), static_cast<int>(height)),
        destroy_surface);
    if (l->surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return image_status::no_memory;
    const std::unique_ptr<cairo_t, decltype(destroy_cairo)> cr(l->create(surface.get()), destroy_cairo);
    const RsvgRectangle viewport{0, 0, static_cast<double>(width), static_cast<double>(height)};
    if (l->render_document(handle.get(), cr.get(), &viewport, &error) == FALSE) {
        message = error != nullptr ? error->message : "rendering failed";
        if (error != nullptr) l->error_free(error);
        return image_status::svg_invalid;
    }
    l->surface_flush(surface.get());
    const image_status made = make_image(width, height, image);
    if (made != image_status::ok) return made;
    // Cairo's pixels: 32-bit words in host order, alpha in the top byte,
    // colour premultiplied.
    const unsigned char* pixels = l->surface_data(surface.get());
    const auto stride = static_cast<std::size_t>(l->surface_stride(surface.get()));
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
