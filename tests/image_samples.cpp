// The image layer's outputs for fixed inputs, so that builds for different
// hosts can be compared byte for byte, and its stages on files, for the
// quality benchmark and by hand:
//
//   image_samples write FOLDER             fixed images shrunk and encoded
//   image_samples shrink IN SIZE OUT.png [linear]
//                                          IN (PNG or SVG) shrunk to SIZE
//   image_samples encode IN.png OUT.png    the smallest exact PNG of IN
//   image_samples render IN.svg SIZE OUT.png
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "icon_bitmap.hpp"
#include "png_codec.hpp"
#include "shrink.hpp"
#include "svg_render.hpp"

namespace {

using bytes = std::vector<std::uint8_t>;

bytes read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool write_all(const std::string& path, const bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

int fail(const std::string& what, image_status status) {
    std::fprintf(stderr, "image_samples: %s: %s\n", what.c_str(), image_status_text(status));
    return 1;
}

// A master of `side` pixels: a disc with a soft edge over transparency,
// a ring, a 1-pixel line, a gradient band and a corner of noise, all in
// integer arithmetic.
rgba_image master_image(std::uint32_t side) {
    rgba_image image;
    make_image(side, side, image);
    std::uint32_t noise = 12345;
    const std::int64_t c = side / 2;
    const std::int64_t r = side * 3 / 8;
    for (std::uint32_t y = 0; y < side; ++y) {
        for (std::uint32_t x = 0; x < side; ++x) {
            std::uint8_t* p = image.pixels.data() + (std::size_t{y} * side + x) * 4;
            const std::int64_t dx = x - c;
            const std::int64_t dy = y - c;
            const std::int64_t d2 = dx * dx + dy * dy;
            if (d2 < r * r) {
                p[0] = static_cast<std::uint8_t>(x * 255 / side);
                p[1] = 40;
                p[2] = static_cast<std::uint8_t>(255 - y * 255 / side);
                p[3] = 255;
            } else if (d2 < (r + side / 16) * (r + side / 16)) {
                p[0] = 250;
                p[1] = 200;
                p[2] = 0;
                p[3] = 160;
            }
            if (x == side / 3) p[0] = p[1] = p[2] = 0, p[3] = 255;
            if (x > side * 7 / 8 && y > side * 7 / 8) {
                noise = noise * 1103515245u + 12345u;
                for (int k = 0; k < 4; ++k) p[k] = static_cast<std::uint8_t>(noise >> (8 + 4 * k));
            }
        }
    }
    return image;
}

// Small images whose smallest forms differ: two colours, grey levels,
// grey with alpha, a palette with translucency, RGB with a transparent key.
std::vector<rgba_image> form_images() {
    std::vector<rgba_image> images;
    for (int kind = 0; kind < 6; ++kind) {
        rgba_image image;
        make_image(24, 24, image);
        for (std::size_t i = 0; i < std::size_t{24} * 24; ++i) {
            std::uint8_t* p = image.pixels.data() + i * 4;
            const auto v = static_cast<std::uint8_t>(i * 7 % 256);
            switch (kind) {
                case 0: p[0] = p[1] = p[2] = (i / 24 + i % 24) % 2 == 0 ? 0 : 255, p[3] = 255; break;
                case 1: p[0] = p[1] = p[2] = static_cast<std::uint8_t>(v / 17 * 17), p[3] = 255; break;
                case 2: p[0] = p[1] = p[2] = v, p[3] = static_cast<std::uint8_t>(i % 24 * 10); break;
                case 3:
                    p[0] = static_cast<std::uint8_t>(v % 5 * 50), p[1] = 9, p[2] = 99,
                    p[3] = i % 3 == 0 ? 128 : 255;
                    break;
                case 4:
                    p[0] = v, p[1] = static_cast<std::uint8_t>(v ^ 0x55),
                    p[2] = static_cast<std::uint8_t>(i / 24);
                    p[3] = i % 5 == 0 ? 0 : 255;
                    if (p[3] == 0) p[0] = p[1] = p[2] = 0;
                    break;
                default: p[0] = v, p[1] = static_cast<std::uint8_t>(i / 3), p[2] = 7, p[3] = v; break;
            }
        }
        images.push_back(image);
    }
    return images;
}

int write_samples(const std::string& folder) {
    const rgba_image master = master_image(1024);
    for (const colour_space space : {colour_space::srgb, colour_space::linear}) {
        for (const std::uint32_t size : {16u, 20u, 24u, 32u, 40u, 48u, 64u, 256u}) {
            rgba_image small;
            image_status status = shrink_image(master, size, size, small, space);
            bytes png;
            if (status == image_status::ok) status = encode_png(small, png);
            bytes bitmap;
            if (status == image_status::ok) status = encode_icon_bitmap(small, bitmap);
            const std::string name =
                folder + "/" + (space == colour_space::linear ? "linear-" : "srgb-") + std::to_string(size);
            if (status != image_status::ok) return fail(name, status);
            if (!write_all(name + ".png", png) || !write_all(name + ".bmp", bitmap)) return 1;
        }
    }
    int n = 0;
    for (const rgba_image& image : form_images()) {
        bytes png;
        const image_status status = encode_png(image, png);
        const std::string name = folder + "/form-" + std::to_string(n++) + ".png";
        if (status != image_status::ok) return fail(name, status);
        if (!write_all(name, png)) return 1;
    }
    return 0;
}

image_status load(const std::string& path, std::uint32_t svg_size, rgba_image& image) {
    const bytes data = read_all(path);
    if (looks_like_svg(data.data(), data.size())) {
        std::string message;
        return render_svg(data.data(), data.size(), svg_size, svg_size, image, message);
    }
    return decode_png(data.data(), data.size(), image);
}

int save(const std::string& path, const rgba_image& image) {
    bytes png;
    const image_status status = encode_png(image, png);
    if (status != image_status::ok) return fail(path, status);
    return write_all(path, png) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "write") return write_samples(args[1]);
    if ((args.size() == 4 || args.size() == 5) && args[0] == "shrink") {
        const auto size = static_cast<std::uint32_t>(std::strtoul(args[2].c_str(), nullptr, 10));
        rgba_image source;
        image_status status = load(args[1], 1024, source);
        if (status != image_status::ok) return fail(args[1], status);
        rgba_image small;
        const colour_space space =
            args.size() == 5 && args[4] == "linear" ? colour_space::linear : colour_space::srgb;
        status = shrink_image(source, size, size, small, space);
        if (status != image_status::ok) return fail(args[1], status);
        return save(args[3], small);
    }
    if (args.size() == 3 && args[0] == "encode") {
        rgba_image image;
        const image_status status = load(args[1], 0, image);
        if (status != image_status::ok) return fail(args[1], status);
        return save(args[2], image);
    }
    if (args.size() == 4 && args[0] == "render") {
        rgba_image image;
        const image_status status =
            load(args[1], static_cast<std::uint32_t>(std::strtoul(args[2].c_str(), nullptr, 10)), image);
        if (status != image_status::ok) return fail(args[1], status);
        return save(args[3], image);
    }
    std::fprintf(
        stderr,
        "usage: image_samples write FOLDER | shrink IN SIZE OUT.png [linear] | encode IN.png OUT.png | "
        "render IN.svg SIZE OUT.png\n");
    return 2;
}
