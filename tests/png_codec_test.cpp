// PNG decoding of every colour type, depth and interlacing against a plain
// reference of the format's sample rules and against Pillow's decoding of the
// same files; damaged and oversized streams; the encoder's choice of form
// and its exact round trips.
#include "png_codec.hpp"

#include <gtest/gtest.h>
#include <spng.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.hpp"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace icon_test;

namespace {

constexpr std::uint32_t SIDE = 9;  // every Adam7 pass holds pixels

struct png_case {
    const char* name;
    std::uint8_t color_type;
    std::uint8_t depth;
    bool trns;
    bool pillow_agrees = true;  // false where Pillow is known to decode otherwise (see below)
};

unsigned channels_of(std::uint8_t color_type) {
    switch (color_type) {
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
        default: return 1;
    }
}

// Samples of a case: a fixed pseudo-random pattern, with the transparent
// key and palette entries where the case has them.
struct png_source {
    std::vector<std::uint32_t> samples;  // SIDE * SIDE * channels, each < 2^depth
    std::vector<std::uint8_t> palette;   // RGB triples
    std::vector<std::uint8_t> alphas;    // tRNS entries of a palette
    std::uint16_t key[3] = {0, 0, 0};
};

png_source source_of(const png_case& c) {
    png_source s;
    const unsigned ch = channels_of(c.color_type);
    const std::uint32_t top = c.depth == 16 ? 0xFFFFu : (1u << c.depth) - 1u;
    std::uint32_t seed = 2463534242u ^ c.color_type * 977u ^ c.depth;
    for (std::uint32_t i = 0; i < SIDE * SIDE * ch; ++i) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        s.samples.push_back(seed % (top + 1));
    }
    if (c.color_type == 3) {
        for (std::uint32_t i = 0; i <= top; ++i) {
            s.palette.insert(s.palette.end(),
                             {std::uint8_t(i * 37), std::uint8_t(255 - i * 11), std::uint8_t(i * 5)});
        }
        if (c.trns) s.alphas = {0, 128, 255, 7};
        s.alphas.resize(std::min<std::size_t>(s.alphas.size(), top + 1));
    } else if (c.trns) {
        // The first pixel's colour is the key, so some pixels take it.
        for (unsigned k = 0; k < 3; ++k) s.key[k] = static_cast<std::uint16_t>(s.samples[ch == 1 ? 0 : k]);
        // And at 16 bits one more pixel differs from the key only in its low byte.
        if (c.depth == 16) s.samples[ch] = s.samples[0] ^ 1u;
    }
    return s;
}

// The PNG's scanlines: samples packed from the most significant bit, 16-bit
// ones most significant byte first.
bytes scanline_bytes(const png_case& c, const png_source& s) {
    const unsigned ch = channels_of(c.color_type);
    const std::size_t stride = (SIDE * ch * c.depth + 7) / 8;
    bytes raw(stride * SIDE, 0);
    for (std::uint32_t y = 0; y < SIDE; ++y) {
        for (std::uint32_t i = 0; i < SIDE * ch; ++i) {
            const std::uint32_t v = s.samples[y * SIDE * ch + i];
            std::uint8_t* row = raw.data() + stride * y;
            if (c.depth == 16) {
                row[std::size_t{i} * 2] = std::uint8_t(v >> 8);
                row[std::size_t{i} * 2 + 1] = std::uint8_t(v);
            } else {
                const std::size_t bit = std::size_t{i} * c.depth;
                row[bit / 8] = std::uint8_t(row[bit / 8] | v << (8 - c.depth - bit % 8));
            }
        }
    }
    return raw;
}

bytes encode_case(const png_case& c, bool interlaced) {
    const png_source s = source_of(c);
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{SIDE, SIDE, c.depth, c.color_type, 0, 0, std::uint8_t(interlaced ? 1 : 0)};
    spng_set_ihdr(ctx, &ihdr);
    if (c.color_type == 3) {
        spng_plte plte{};
        plte.n_entries = std::uint32_t(s.palette.size() / 3);
        for (std::size_t i = 0; i < plte.n_entries; ++i)
            plte.entries[i] = {s.palette[i * 3], s.palette[i * 3 + 1], s.palette[i * 3 + 2], 255};
        spng_set_plte(ctx, &plte);
    }
    if (c.trns) {
        spng_trns trns{};
        trns.gray = s.key[0];
        trns.red = s.key[0];
        trns.green = s.key[1];
        trns.blue = s.key[2];
        trns.n_type3_entries = std::uint32_t(s.alphas.size());
        for (std::size_t i = 0; i < s.alphas.size(); ++i) trns.type3_alpha[i] = s.alphas[i];
        spng_set_trns(ctx, &trns);
    }
    bytes raw = scanline_bytes(c, s);
    EXPECT_EQ(spng_encode_image(ctx, raw.data(), raw.size(), SPNG_FMT_RAW, SPNG_ENCODE_FINALIZE), 0)
        << c.name;
    std::size_t length = 0;
    int error = 0;
    auto* png = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx, &length, &error));
    bytes out(png, png + length);
    std::free(png);
    spng_ctx_free(ctx);
    return out;
}

// What the format says the pixels are, in 8 bits: low depths scaled to
// 0..255, 16-bit samples by their high byte, tRNS by exact sample match.
bytes reference_pixels(const png_case& c) {
    const png_source s = source_of(c);
    const unsigned ch = channels_of(c.color_type);
    const auto to8 = [&](std::uint32_t v) {
        return std::uint8_t(c.depth == 16 ? v >> 8 : c.depth == 8 ? v : v * 255 / ((1u << c.depth) - 1));
    };
    bytes out;
    for (std::uint32_t p = 0; p < SIDE * SIDE; ++p) {
        const std::uint32_t* v = s.samples.data() + std::size_t{p} * ch;
        switch (c.color_type) {
            case 0:
                out.insert(out.end(), {to8(v[0]), to8(v[0]), to8(v[0]),
                                       std::uint8_t(c.trns && v[0] == s.key[0] ? 0 : 255)});
                break;
            case 4: out.insert(out.end(), {to8(v[0]), to8(v[0]), to8(v[0]), to8(v[1])}); break;
            case 2: {
                const bool key = c.trns && v[0] == s.key[0] && v[1] == s.key[1] && v[2] == s.key[2];
                out.insert(out.end(), {to8(v[0]), to8(v[1]), to8(v[2]), std::uint8_t(key ? 0 : 255)});
                break;
            }
            case 6: out.insert(out.end(), {to8(v[0]), to8(v[1]), to8(v[2]), to8(v[3])}); break;
            default:
                out.insert(out.end(), {s.palette[std::size_t{v[0]} * 3], s.palette[std::size_t{v[0]} * 3 + 1],
                                       s.palette[std::size_t{v[0]} * 3 + 2],
                                       v[0] < s.alphas.size() ? s.alphas[v[0]] : std::uint8_t(255)});
        }
    }
    return out;
}

// Pillow 9.4 decodes 16-bit grey to 32-bit integers and clips them to 255 on
// conversion; compares a grey tRNS key of fewer than 8 bits with samples it
// has already scaled, so that no pixel matches; and compares a 16-bit RGB key
// with 8-bit samples, so that a colour differing from the key in its low
// bytes only turns transparent too. Those rows are checked against the
// reference only.
const std::vector<png_case> png_cases = {
    {"grey 1", 0, 1, false},          {"grey 2", 0, 2, false},
    {"grey 4", 0, 4, false},          {"grey 8", 0, 8, false},
    {"grey 16", 0, 16, false, false}, {"grey 2 tRNS", 0, 2, true, false},
    {"grey 8 tRNS", 0, 8, true},      {"grey 16 tRNS", 0, 16, true, false},
    {"grey alpha 8", 4, 8, false},    {"grey alpha 16", 4, 16, false},
    {"RGB 8", 2, 8, false},           {"RGB 16", 2, 16, false},
    {"RGB 8 tRNS", 2, 8, true},       {"RGB 16 tRNS", 2, 16, true, false},
    {"RGBA 8", 6, 8, false},          {"RGBA 16", 6, 16, false},
    {"palette 1", 3, 1, false},       {"palette 2 tRNS", 3, 2, true},
    {"palette 4 tRNS", 3, 4, true},   {"palette 8", 3, 8, false},
    {"palette 8 tRNS", 3, 8, true},
};

TEST(PngCodec, DecodesEveryColourTypeAndDepth) {
    for (const png_case& c : png_cases) {
        for (const bool interlaced : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (interlaced ? ", interlaced" : ""));
            const bytes png = encode_case(c, interlaced);
            rgba_image image;
            ASSERT_EQ(decode_png(png.data(), png.size(), image), image_status::ok);
            EXPECT_EQ(image.width, SIDE);
            EXPECT_EQ(image.height, SIDE);
            EXPECT_EQ(image.pixels, reference_pixels(c));
        }
    }
}

TEST(PngCodec, DecodesAsPillowDoes) {
    if (on_windows) GTEST_SKIP() << "a Windows test cannot wait for a program of the host";
    if (run_program("/usr/bin/python3", {"-c", "import PIL"}, {.host_tool = true}).status != 0)
        GTEST_SKIP() << "Pillow is not installed (Debian package python3-pil)";
    // One run of Pillow over every file: their pixels back to back.
    static const char* const script =
        "import sys\nfrom PIL import Image\nfor f in sys.argv[1:]:\n"
        "    sys.stdout.buffer.write(Image.open(f).convert('RGBA').tobytes())";
    const scratch_dir dir;
    std::vector<std::string> args = {"-c", script};
    std::vector<std::string> names;
    std::vector<bytes> ours;
    for (const png_case& c : png_cases) {
        if (!c.pillow_agrees) continue;
        for (const bool interlaced : {false, true}) {
            names.push_back(std::string(c.name) + (interlaced ? ", interlaced" : ""));
            const bytes png = encode_case(c, interlaced);
            args.push_back(dir.put(std::to_string(names.size()) + ".png", png));
            rgba_image image;
            EXPECT_EQ(decode_png(png.data(), png.size(), image), image_status::ok) << names.back();
            ours.push_back(image.pixels);
        }
    }
    const run_result pillow = run_program("/usr/bin/python3", args, {.host_tool = true});
    ASSERT_EQ(pillow.status, 0) << pillow.err;
    constexpr std::size_t size = std::size_t{SIDE} * SIDE * 4;
    ASSERT_EQ(pillow.out.size(), size * names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_TRUE(bytes(pillow.out.begin() + std::ptrdiff_t(i * size),
                          pillow.out.begin() + std::ptrdiff_t((i + 1) * size)) == ours[i])
            << names[i];
    }
}

// A PNG stream's chunks: signature 0..7, IHDR 8..32 (its data 16..28, CRC
// 29..32), then IDAT with its length at 33 and its data from 41.
TEST(PngCodec, DamagedStreams) {
    const bytes good = encode_case({"RGB 8", 2, 8, false}, false);
    const std::size_t idat = 33;
    const std::size_t idat_data = 41;
    const std::size_t data_length = std::size_t{good[idat]} << 24 | std::size_t{good[idat + 1]} << 16 |
                                    std::size_t{good[idat + 2]} << 8 | good[idat + 3];
    // IDAT data that is not zlib, with a CRC that matches it.
    bytes garbage = good;
    for (std::size_t i = 0; i < data_length; ++i) garbage[idat_data + i] = std::uint8_t(0xFF - i);
    const bytes chunk(garbage.begin() + std::ptrdiff_t(idat + 4),
                      garbage.begin() + std::ptrdiff_t(idat_data + data_length));
    const std::uint32_t crc = reference_crc(chunk);
    for (int k = 0; k < 4; ++k)
        garbage[idat_data + data_length + std::size_t(k)] = std::uint8_t(crc >> (24 - 8 * k));
    struct damage {
        const char* name;
        bytes data;
        image_status status;
    };
    const std::vector<damage> rows = {
        {"empty", {}, image_status::truncated},
        {"signature only", cut(good, 8), image_status::truncated},
        {"IHDR cut", cut(good, 20), image_status::truncated},
        {"IDAT cut", cut(good, idat_data + data_length / 2), image_status::truncated},
        {"no IEND", cut(good, good.size() - 12), image_status::truncated},
        {"not PNG", patched(good, 0, 0x474E5088), image_status::corrupt},
        {"IHDR CRC", patched(good, 29, 0), image_status::corrupt},
        {"IDAT CRC", patched(good, idat_data + data_length, 0), image_status::corrupt},
        {"bit depth 3", patched(good, 24, 3, 1), image_status::corrupt},
        {"not inflating", garbage, image_status::not_inflating},
    };
    for (const damage& d : rows) {
        SCOPED_TRACE(d.name);
        rgba_image image;
        image.width = 1;
        EXPECT_EQ(decode_png(d.data.data(), d.data.size(), image), d.status);
        EXPECT_EQ(image.width, 0u);
        EXPECT_TRUE(image.pixels.empty());
    }
}

// IHDR patched to a size (big-endian, at 16 and 20; its CRC at 29).
bytes with_size(std::uint32_t width, std::uint32_t height) {
    bytes png = encode_case({"RGBA 8", 6, 8, false}, false);
    for (int k = 0; k < 4; ++k) {
        png[16 + std::size_t(k)] = std::uint8_t(width >> (24 - 8 * k));
        png[20 + std::size_t(k)] = std::uint8_t(height >> (24 - 8 * k));
    }
    const std::uint32_t crc = reference_crc(bytes(png.begin() + 12, png.begin() + 29));
    for (int k = 0; k < 4; ++k) png[29 + std::size_t(k)] = std::uint8_t(crc >> (24 - 8 * k));
    return png;
}

// Sizes beyond the limits are refused before anything is allocated: in a
// child process of 64 MiB of address space (POSIX; not under a sanitizer,
// valgrind or an emulator, which need more for themselves), an image of 20000 x 20000
// (1.6 GB of RGBA) must be refused, not fail for want of memory.
TEST(PngCodec, SizesBeyondTheLimitsAreRefused) {
    struct size_row {
        std::uint32_t width, height;
        image_limits limits;
        image_status status;
    };
    const std::vector<size_row> rows = {
        {8193, 8192, {}, image_status::too_large},         {65536, 1, {}, image_status::too_large},
        {20000, 20000, {}, image_status::too_large},       {257, 16, {256, 65536}, image_status::too_large},
        {256, 256, {256, 65536}, image_status::truncated},  // allowed: decoding runs out of data
    };
    for (const size_row& r : rows) {
        SCOPED_TRACE(std::to_string(r.width) + " x " + std::to_string(r.height));
        const bytes png = with_size(r.width, r.height);
        rgba_image image;
        EXPECT_EQ(decode_png(png.data(), png.size(), image, r.limits), r.status);
    }
#ifndef _WIN32
    // Valgrind, too, needs more for itself (its preload shows it).
    const char* preload = std::getenv("LD_PRELOAD");
    if (ICON_SANITIZED || programs_run_emulated() || std::getenv("ICON_TEST_WRAPPER") != nullptr ||
        (preload != nullptr && std::string(preload).find("vgpreload") != std::string::npos))
        return;
    const bytes bomb = with_size(20000, 20000);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{rlim_t{64} << 20, rlim_t{64} << 20};
        setrlimit(RLIMIT_AS, &limit);
        rgba_image image;
        _exit(decode_png(bomb.data(), bomb.size(), image) == image_status::too_large ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
#endif
}

// ---- encoding ----

// A width x height image whose pixel i is make(i).
template <typename Make>
rgba_image image_of(std::uint32_t width, std::uint32_t height, Make make) {
    rgba_image image;
    make_image(width, height, image);
    for (std::uint32_t i = 0; i < width * height; ++i) {
        const std::array<std::uint8_t, 4> p = make(i);
        std::copy(p.begin(), p.end(), image.pixels.begin() + std::ptrdiff_t(i) * 4);
    }
    return image;
}

std::uint8_t noise(std::uint32_t i, std::uint32_t salt = 0) {
    std::uint32_t x = (i + 1) * 2654435761u ^ salt * 40503u;
    x ^= x >> 15;
    x *= 2246822519u;
    x ^= x >> 13;
    return std::uint8_t(x >> 8);
}

// Images whose smallest exact form is known, with the colour type and bit
// depth the encoder must pick (IHDR bytes 24 and 25). Noise keeps filters
// and deflate from making a larger form win.
TEST(PngCodec, EncodesTheSmallestExactForm) {
    using px = std::array<std::uint8_t, 4>;
    struct form_row {
        const char* name;
        rgba_image image;
        std::uint8_t color_type, depth;
    };
    const std::vector<form_row> rows = {
        {"black and white",
         image_of(32, 32,
                  [](std::uint32_t i) {
                      std::uint8_t v = noise(i) & 1 ? 255 : 0;
                      return px{v, v, v, 255};
                  }),
         0, 1},
        {"four greys",
         image_of(32, 32,
                  [](std::uint32_t i) {
                      std::uint8_t v = std::uint8_t(noise(i) % 4 * 85);
                      return px{v, v, v, 255};
                  }),
         0, 2},
        {"sixteen greys, with a key",
         image_of(32, 32,
                  [](std::uint32_t i) {
                      std::uint8_t v = std::uint8_t(noise(i) % 16 * 17);
                      return v == 34 ? px{34, 34, 34, 0} : px{v, v, v, 255};
                  }),
         0, 4},
        {"all greys",
         image_of(64, 64,
                  [](std::uint32_t i) {
                      std::uint8_t v = noise(i);
                      return px{v, v, v, 255};
                  }),
         0, 8},
        {"grey with alpha",
         image_of(64, 64,
                  [](std::uint32_t i) {
                      std::uint8_t v = noise(i);
                      return px{v, v, v, noise(i, 1)};
                  }),
         4, 8},
        {"two colours, one translucent",
         image_of(32, 32,
                  [](std::uint32_t i) {
                      return noise(i) & 1 ? px{200, 10, 10, 100} : px{0, 0, 255, 255};
                  }),
         3, 1},
        {"twelve colours",
         image_of(32, 32,
                  [](std::uint32_t i) {
                      std::uint8_t k = noise(i) % 12;
                      return px{std::uint8_t(k * 20), 9, std::uint8_t(255 - k), 255};
                  }),
         3, 4},
        {"200 colours",
         image_of(64, 64,
                  [](std::uint32_t i) {
                      std::uint8_t k = noise(i) % 200;
                      return px{k, std::uint8_t(k * 3), 77, std::uint8_t(k < 100 ? 255 : k)};
                  }),
         3, 8},
        {"RGB",
         image_of(64, 64,
                  [](std::uint32_t i) {
                      return px{noise(i), noise(i, 1), noise(i, 2), 255};
                  }),
         2, 8},
        {"RGB with a transparent key",
         image_of(64, 64,
                  [](std::uint32_t i) {
                      return noise(i, 3) < 40 ? px{1, 2, 3, 0} : px{noise(i), noise(i, 1), noise(i, 2), 255};
                  }),
         2, 8},
        {"RGBA, transparent pixels of two colours",
         image_of(64, 64,
                  [](std::uint32_t i) {
                      return noise(i, 3) < 40 ? px{std::uint8_t(i & 1), 2, 3, 0}
                                              : px{noise(i), noise(i, 1), noise(i, 2), 255};
                  }),
         6, 8},
        {"RGBA",
         image_of(64, 64,
                  [](std::uint32_t i) {
                      return px{noise(i), noise(i, 1), noise(i, 2), noise(i, 4)};
                  }),
         6, 8},
    };
    for (const form_row& r : rows) {
        SCOPED_TRACE(r.name);
        bytes png;
        ASSERT_EQ(encode_png(r.image, png), image_status::ok);
        ASSERT_GT(png.size(), 26u);
        EXPECT_EQ(png[25], r.color_type);
        EXPECT_EQ(png[24], r.depth);
        rgba_image back;
        ASSERT_EQ(decode_png(png.data(), png.size(), back), image_status::ok);
        EXPECT_EQ(back.width, r.image.width);
        EXPECT_TRUE(back.pixels == r.image.pixels);
        bytes again;
        ASSERT_EQ(encode_png(back, again), image_status::ok);
        EXPECT_TRUE(again == png) << "the same pixels, the same bytes";
    }
}

}  // namespace
