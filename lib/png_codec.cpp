#include "png_codec.hpp"

#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <new>

namespace {

struct ctx_free {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using spng_handle = std::unique_ptr<spng_ctx, ctx_free>;

struct buffer_free {
    void operator()(void* buffer) const { std::free(buffer); }
};

constexpr std::size_t ANCILLARY_CACHE_LIMIT = std::size_t{16} << 20;

image_status from_spng(int error) {
    switch (error) {
        case SPNG_OK: return image_status::ok;
        case SPNG_IO_EOF:
        case SPNG_EIDAT_TOO_SHORT: return image_status::truncated;
        case SPNG_EZLIB:
        case SPNG_EIDAT_STREAM: return image_status::not_inflating;
        case SPNG_EUSER_WIDTH:
        case SPNG_EUSER_HEIGHT:
        case SPNG_ECHUNK_LIMITS:
        case SPNG_EOVERFLOW: return image_status::too_large;
        case SPNG_EMEM:
        case SPNG_EZLIB_INIT: return image_status::no_memory;
        default: return image_status::corrupt;
    }
}

// Sends rows of a fully decoded image to a sink.
void send_rows(const std::vector<std::uint8_t>& pixels, std::uint32_t width, std::uint32_t height,
               rgba_row_sink& sink) {
    const std::size_t stride = std::size_t{width} * 4;
    for (std::uint32_t y = 0; y < height; ++y) sink.row(y, pixels.data() + stride * y);
}

image_status read_rows(spng_ctx* ctx, const spng_ihdr& ihdr, rgba_row_sink& sink) {
    const std::size_t stride = std::size_t{ihdr.width} * 4;
    std::vector<std::uint8_t> buffer;
    if (ihdr.interlace_method == SPNG_INTERLACE_NONE) {
        // One row at a time: memory is a row, whatever the image's size.
        int error =
            spng_decode_image(ctx, nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
        if (error != SPNG_OK) return from_spng(error);
        buffer.resize(stride);
        for (std::uint32_t y = 0; y < ihdr.height; ++y) {
            error = spng_decode_row(ctx, buffer.data(), stride);
            if (error != SPNG_OK && !(error == SPNG_EOI && y + 1 == ihdr.height)) return from_spng(error);
            sink.row(y, buffer.data());
        }
        // The chunks after the image through IEND, so that a stream cut
        // after its pixels, or with a damaged last chunk, is refused too.
        return from_spng(spng_decode_chunks(ctx));
    }
    // Adam7 passes fill rows out of order: the whole image first.
    buffer.resize(stride * ihdr.height);
    const int error = spng_decode_image(ctx, buffer.data(), buffer.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
    if (error != SPNG_OK) return from_spng(error);
    send_rows(buffer, ihdr.width, ihdr.height, sink);
    return from_spng(spng_decode_chunks(ctx));
}

// ---- encoding --------------------------------------------------------------------------------

// One way to store the pixels: colour type and bit depth, and the palette
// or the transparent key where the type needs one.
struct png_form {
    std::uint8_t color_type = 0;
    std::uint8_t bit_depth = 8;
    std::vector<std::uint32_t> palette;  // packed R << 24 | G << 16 | B << 8 | A
    bool has_key = false;
    std::array<std::uint8_t, 3> key{};  // the RGB (or grey) of every transparent pixel
    bool palette_trns = false;          // a tRNS chunk even when every entry is opaque
};

std::uint32_t packed(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// What the pixels allow.
struct pixel_facts {
    bool opaque = true;
    bool grey = true;
    bool binary_alpha = true;  // every alpha 0 or 255
    bool key_usable = true;    // transparent pixels share one colour no opaque pixel has
    bool has_transparent = false;
    std::array<std::uint8_t, 3> key{};
    std::vector<std::uint32_t> colours;  // sorted; empty when there are more than 256
    std::uint8_t grey_depth = 1;         // lowest depth holding every grey value (and the key)
};

std::uint8_t depth_for_grey(std::uint8_t value) {
    if (value % 255 == 0) return 1;
    if (value % 85 == 0) return 2;
    if (value % 17 == 0) return 4;
    return 8;
}

pixel_facts examine(const rgba_image& image) {
    pixel_facts facts;
    const std::size_t count = std::size_t{image.width} * image.height;
    const std::uint8_t* p = image.pixels.data();
    bool few = true;
    std::uint32_t last = 0;
    bool have_last = false;
    // Opaque colours, to check that the key is none of them at the end.
    for (std::size_t i = 0; i < count; ++i, p += 4) {
        const std::uint8_t a = p[3];
        if (a != 255) facts.opaque = false;
        if (a != 0 && a != 255) facts.binary_alpha = false;
        if (p[0] != p[1] || p[1] != p[2]) facts.grey = false;
        if (a == 0) {
            if (!facts.has_transparent) {
                facts.key = {p[0], p[1], p[2]};
                facts.has_transparent = true;
            } else if (facts.key != std::array<std::uint8_t, 3>{p[0], p[1], p[2]}) {
                facts.key_usable = false;
            }
        }
        if (few) {
            const std::uint32_t c = packed(p);
            if (!have_last || c != last) {
                const auto at = std::lower_bound(facts.colours.begin(), facts.colours.end(), c);
                if (at == facts.colours.end() || *at != c) {
                    if (facts.colours.size() == 256) {
                        few = false;
                        facts.colours.clear();
                    } else {
                        facts.colours.insert(at, c);
                    }
                }
                last = c;
                have_last = true;
            }
        }
        facts.grey_depth = std::max(facts.grey_depth, depth_for_grey(p[0]));
    }
    if (!facts.binary_alpha || !facts.has_transparent) facts.key_usable = false;
    if (facts.key_usable) {
        p = image.pixels.data();
        for (std::size_t i = 0; i < count; ++i, p += 4) {
            if (p[3] == 255 && std::array<std::uint8_t, 3>{p[0], p[1], p[2]} == facts.key) {
                facts.key_usable = false;
                break;
            }
        }
    }
    if (facts.key_usable) facts.grey_depth = std::max(facts.grey_depth, depth_for_grey(facts.key[0]));
    return facts;
}

// The forms worth trying: the palette where it applies, and the most
// reduced of the direct forms.
std::vector<png_form> forms_for(const pixel_facts& facts, png_use use) {
    std::vector<png_form> forms;
    if (!facts.colours.empty()) {
        png_form form;
        form.color_type = SPNG_COLOR_TYPE_INDEXED;
        form.palette_trns = use == png_use::icon;
        const std::size_t n = facts.colours.size();
        form.bit_depth = n <= 2 ? 1 : n <= 4 ? 2 : n <= 16 ? 4 : 8;
        // Translucent entries first, so that tRNS stops at the last of them.
        form.palette = facts.colours;
        std::stable_partition(form.palette.begin(), form.palette.end(),
                              [](std::uint32_t c) { return (c & 0xFFu) != 0xFFu; });
        forms.push_back(form);
    }
    png_form direct;
    if (facts.grey) {
        if (facts.opaque || facts.key_usable) {
            direct.color_type = SPNG_COLOR_TYPE_GRAYSCALE;
            direct.bit_depth = facts.grey_depth;
        } else {
            direct.color_type = SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
        }
    } else if (use == png_use::icon) {
        direct.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
        forms.push_back(direct);
        return forms;
    } else {
        direct.color_type =
            facts.opaque || facts.key_usable ? SPNG_COLOR_TYPE_TRUECOLOR : SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    }
    if (!facts.opaque && facts.key_usable) {
        direct.has_key = true;
        direct.key = facts.key;
    }
    forms.push_back(direct);
    return forms;
}

// The pixels as the form's scanlines, without filter bytes; samples of
// fewer than 8 bits packed from the most significant bit.
std::vector<std::uint8_t> scanlines(const rgba_image& image, const png_form& form) {
    const std::uint32_t channels = form.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA   ? 4
                                   : form.color_type == SPNG_COLOR_TYPE_TRUECOLOR       ? 3
                                   : form.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ? 2
                                                                                        : 1;
    const std::size_t row_bits = std::size_t{image.width} * channels * form.bit_depth;
    const std::size_t stride = (row_bits + 7) / 8;
    std::vector<std::uint8_t> raw(stride * image.height, 0);
    const std::uint8_t* p = image.pixels.data();
    const unsigned scale = 255u / ((1u << form.bit_depth) - 1u);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        std::uint8_t* out = raw.data() + stride * y;
        for (std::uint32_t x = 0; x < image.width; ++x, p += 4) {
            unsigned sample = 0;
            switch (form.color_type) {
                case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA: std::copy(p, p + 4, out + std::size_t{x} * 4); continue;
                case SPNG_COLOR_TYPE_TRUECOLOR: std::copy(p, p + 3, out + std::size_t{x} * 3); continue;
                case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
                    out[std::size_t{x} * 2] = p[0];
                    out[std::size_t{x} * 2 + 1] = p[3];
                    continue;
                case SPNG_COLOR_TYPE_GRAYSCALE: sample = p[0] / scale; break;
                default:
                    sample = static_cast<unsigned>(std::lower_bound(form.palette.begin(), form.palette.end(),
                                                                    packed(p),
                                                                    [](std::uint32_t a, std::uint32_t b) {
                                                                        // The palette is ordered by (opaque,
                                                                        // value).
                                                                        const bool ao = (a & 0xFFu) == 0xFFu;
                                                                        const bool bo = (b & 0xFFu) == 0xFFu;
                                                                        return ao != bo ? bo : a < b;
                                                                    }) -
                                                   form.palette.begin());
                    break;
            }
            const std::size_t bit = std::size_t{x} * form.bit_depth;
            out[bit / 8] = static_cast<std::uint8_t>(out[bit / 8] | sample << (8 - form.bit_depth - bit % 8));
        }
    }
    return raw;
}

struct deflate_setting {
    int filter_choice;
    int strategy;
};

// Palette and low-depth scanlines gain nothing from filters. For 8-bit
// samples, no filter with the default strategy and the per-row choice with
// Z_FILTERED were measured best: over 472 shrunk application icons (16 to
// 256 px) the pair came within 0.2 % of trying each of the five filters and
// the per-row choice with both strategies, at a sixth of the time.
std::vector<deflate_setting> settings_for(const png_form& form) {
    if (form.color_type == SPNG_COLOR_TYPE_INDEXED || form.bit_depth < 8) {
        return {{SPNG_DISABLE_FILTERING, Z_DEFAULT_STRATEGY}, {SPNG_DISABLE_FILTERING, Z_FILTERED}};
    }
    return {{SPNG_DISABLE_FILTERING, Z_DEFAULT_STRATEGY}, {SPNG_FILTER_CHOICE_ALL, Z_FILTERED}};
}

image_status encode_form(const rgba_image& image, const png_form& form, const std::vector<std::uint8_t>& raw,
                         const deflate_setting& setting, std::vector<std::uint8_t>& png) {
    const spng_handle ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return image_status::no_memory;
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 9);
    spng_set_option(ctx.get(), SPNG_IMG_MEM_LEVEL, 9);
    spng_set_option(ctx.get(), SPNG_IMG_WINDOW_BITS, 15);
    spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_STRATEGY, setting.strategy);
    spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, setting.filter_choice);
    spng_ihdr ihdr{};
    ihdr.width = image.width;
    ihdr.height = image.height;
    ihdr.bit_depth = form.bit_depth;
    ihdr.color_type = form.color_type;
    int error = spng_set_ihdr(ctx.get(), &ihdr);
    if (error == SPNG_OK && form.color_type == SPNG_COLOR_TYPE_INDEXED) {
        spng_plte plte{};
        spng_trns trns{};
        plte.n_entries = static_cast<std::uint32_t>(form.palette.size());
        for (std::size_t i = 0; i < form.palette.size(); ++i) {
            const std::uint32_t c = form.palette[i];
            plte.entries[i] = {static_cast<std::uint8_t>(c >> 24), static_cast<std::uint8_t>(c >> 16),
                               static_cast<std::uint8_t>(c >> 8), 255};
            trns.type3_alpha[i] = static_cast<std::uint8_t>(c);
            if ((c & 0xFFu) != 0xFFu) trns.n_type3_entries = static_cast<std::uint32_t>(i + 1);
        }
        if (form.palette_trns && trns.n_type3_entries == 0) trns.n_type3_entries = 1;
        error = spng_set_plte(ctx.get(), &plte);
        if (error == SPNG_OK && trns.n_type3_entries > 0) error = spng_set_trns(ctx.get(), &trns);
    } else if (error == SPNG_OK && form.has_key) {
        spng_trns trns{};
        const unsigned scale = 255u / ((1u << form.bit_depth) - 1u);
        trns.gray = static_cast<std::uint16_t>(form.key[0] / scale);
        trns.red = form.key[0];
        trns.green = form.key[1];
        trns.blue = form.key[2];
        error = spng_set_trns(ctx.get(), &trns);
    }
    if (error == SPNG_OK) {
        error = spng_encode_image(ctx.get(), raw.data(), raw.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    }
    if (error != SPNG_OK) return from_spng(error);
    std::size_t length = 0;
    const std::unique_ptr<void, buffer_free> buffer(spng_get_png_buffer(ctx.get(), &length, &error));
    if (!buffer) return error == SPNG_EMEM ? image_status::no_memory : from_spng(error);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer.get());
    png.assign(bytes, bytes + length);
    return image_status::ok;
}

}  // namespace

namespace {

int read_from_source(spng_ctx* /*ctx*/, void* user, void* into, std::size_t length) {
    return static_cast<png_byte_source*>(user)->read(static_cast<std::uint8_t*>(into), length) ? SPNG_OK
                                                                                               : SPNG_IO_EOF;
}

// Decodes from a context whose input `attach` sets.
template <typename Attach>
image_status read_with(Attach attach, rgba_row_sink& sink, const image_limits& limits,
                       const png_read_options& options) {
    try {
        const spng_handle ctx(spng_ctx_new(0));
        if (!ctx) return image_status::no_memory;
        spng_set_image_limits(ctx.get(), limits.max_side, limits.max_side);
        spng_set_chunk_limits(ctx.get(), ANCILLARY_CACHE_LIMIT, ANCILLARY_CACHE_LIMIT);
        if (!options.check_crcs) spng_set_crc_action(ctx.get(), SPNG_CRC_USE, SPNG_CRC_USE);
        int error = attach(ctx.get());
        spng_ihdr ihdr{};
        if (error == SPNG_OK) error = spng_get_ihdr(ctx.get(), &ihdr);
        if (error != SPNG_OK) return from_spng(error);
        if (!image_size_allowed(ihdr.width, ihdr.height, limits)) return image_status::too_large;
        const image_status begun = sink.begin(ihdr.width, ihdr.height);
        if (begun != image_status::ok) return begun;
        return read_rows(ctx.get(), ihdr, sink);
    } catch (const std::bad_alloc&) {
        return image_status::no_memory;
    }
}

}  // namespace

image_status read_png(const std::uint8_t* data, std::size_t size, rgba_row_sink& sink,
                      const image_limits& limits) {
    if (size == 0) return image_status::truncated;
    return read_with([&](spng_ctx* ctx) { return spng_set_png_buffer(ctx, data, size); }, sink, limits, {});
}

image_status read_png(png_byte_source& source, rgba_row_sink& sink, const image_limits& limits,
                      const png_read_options& options) {
    return read_with([&](spng_ctx* ctx) { return spng_set_png_stream(ctx, read_from_source, &source); }, sink,
                     limits, options);
}

image_status read_png(std::FILE* stream, rgba_row_sink& sink, const image_limits& limits) {
    return read_with([stream](spng_ctx* ctx) { return spng_set_png_file(ctx, stream); }, sink, limits, {});
}

image_status decode_png(const std::uint8_t* data, std::size_t size, rgba_image& image,
                        const image_limits& limits) {
    rgba_image_sink sink(image);
    const image_status status = read_png(data, size, sink, limits);
    if (status != image_status::ok) image = rgba_image{};
    return status;
}

image_status encode_png(const rgba_image& image, std::vector<std::uint8_t>& png, png_use use) {
    if (!image_size_allowed(image.width, image.height, {}) ||
        image.pixels.size() != std::size_t{image.width} * image.height * 4) {
        return image_status::too_large;
    }
    try {
        const pixel_facts facts = examine(image);
        std::vector<std::uint8_t> best;
        std::vector<std::uint8_t> candidate;
        for (const png_form& form : forms_for(facts, use)) {
            const std::vector<std::uint8_t> raw = scanlines(image, form);
            for (const deflate_setting& setting : settings_for(form)) {
                const image_status status = encode_form(image, form, raw, setting, candidate);
                if (status != image_status::ok) return status;
                if (best.empty() || candidate.size() < best.size()) best.swap(candidate);
            }
        }
        png.swap(best);
        return image_status::ok;
    } catch (const std::bad_alloc&) {
        return image_status::no_memory;
    }
}

const char* png_library_versions() {
#define ICON_STRING2(x) #x
#define ICON_STRING(x) ICON_STRING2(x)
    return "libspng " ICON_STRING(SPNG_VERSION_MAJOR) "." ICON_STRING(SPNG_VERSION_MINOR) "." ICON_STRING(
        SPNG_VERSION_PATCH) ", zlib " ZLIB_VERSION;
#undef ICON_STRING
#undef ICON_STRING2
}
