#include "bitmap_png.hpp"

#include "icon_bitmap.hpp"
#include "png_codec.hpp"
#include "rgba_image.hpp"

bool bitmap_to_png(const std::uint8_t* image, std::size_t size, std::vector<std::uint8_t>& png,
                   std::string& error) {
    // An icon image is at most 256 pixels a side; the checks have held the
    // header to that before the decoder sees it.
    constexpr image_limits icon_limits{256, std::uint64_t{256} * 256};
    rgba_image pixels;
    image_status status = decode_icon_bitmap(image, size, pixels, icon_limits);
    const char* stage = "can't decode the bitmap image: ";
    if (status == image_status::ok) {
        // The forms icon readers show right, so that the file can be packed
        // back as it is.
        status = encode_png(pixels, png, png_use::icon);
        stage = "can't encode the PNG image: ";
    }
    if (status == image_status::ok) return true;
    error = std::string(stage) + image_status_text(status);
    return false;
}
