// The image layer's pixel buffer and the results of its stages.
//
// An rgba_image holds 8-bit red, green, blue and alpha, in that order, four
// bytes a pixel, rows top to bottom without padding; alpha is straight (not
// premultiplied). Every stage of the layer is a function from buffers to
// buffers that answers an image_status and throws nothing.
//
// A decoder learns an image's size from its header, and refuses a size
// beyond its limits before it allocates anything: a few bytes of PNG may
// claim gigapixels. The default limits hold any icon and any master image a
// user may give (8192 x 8192, 256 MiB of RGBA); a caller that needs less,
// such as a checker that looks only at images an icon can show, passes its
// own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct rgba_image {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 4 bytes
};

enum class image_status : std::uint8_t {
    ok,
    corrupt,          // the data breaks its format's rules (a bad CRC, an invalid header field)
    truncated,        // the data ends before the image does
    not_inflating,    // the compressed data does not inflate
    too_large,        // the header's size is beyond the limits; nothing was allocated
    unsupported,      // a valid form this layer does not decode (a compressed bitmap)
    no_memory,        // an allocation within the limits failed
    would_enlarge,    // a shrinking target larger than its source
    svg_unsupported,  // this build renders no SVG
    svg_invalid,      // the SVG renderer refused the document
};

// A short phrase for messages, e.g. "image data cut short".
const char* image_status_text(image_status status);

inline constexpr std::uint32_t IMAGE_MAX_SIDE = 65535;
inline constexpr std::uint64_t IMAGE_MAX_PIXELS = std::uint64_t{8192} * 8192;

struct image_limits {
    std::uint32_t max_side = IMAGE_MAX_SIDE;
    std::uint64_t max_pixels = IMAGE_MAX_PIXELS;
};

// True when a width x height image may be allocated under `limits`: both
// sides at least 1 and at most max_side, the product at most max_pixels.
bool image_size_allowed(std::uint64_t width, std::uint64_t height, const image_limits& limits);

// Makes `image` a width x height image of zero bytes (transparent black).
// too_large, before any allocation, when the size is not allowed.
image_status make_image(std::uint32_t width, std::uint32_t height, rgba_image& image,
                        const image_limits& limits = {});

// Receives an image row by row, top to bottom, as a decoder produces it:
// begin() once with the size (already checked against the decoder's
// limits), which may refuse it, then row() for each row y = 0 .. height - 1
// with width * 4 bytes. A decoder that fails after begin() stops sending.
class rgba_row_sink {
   public:
    virtual ~rgba_row_sink() = default;
    virtual image_status begin(std::uint32_t width, std::uint32_t height) = 0;
    virtual void row(std::uint32_t y, const std::uint8_t* rgba) = 0;

   protected:
    rgba_row_sink() = default;
    rgba_row_sink(const rgba_row_sink&) = default;
    rgba_row_sink& operator=(const rgba_row_sink&) = default;
};

// The sink that keeps the whole image.
class rgba_image_sink final : public rgba_row_sink {
   public:
    explicit rgba_image_sink(rgba_image& image) : image_(image) {}
    image_status begin(std::uint32_t width, std::uint32_t height) override;
    void row(std::uint32_t y, const std::uint8_t* rgba) override;

   private:
    rgba_image& image_;
};
