// A build without the image layer: no bitmap image can be converted, and
// each one is reported as an error for its image.
#include "bitmap_png.hpp"

bool bitmap_to_png(const std::uint8_t*, std::size_t, std::vector<std::uint8_t>&, std::string& error) {
    error = "bitmap images can't be converted in this build";
    return false;
}
