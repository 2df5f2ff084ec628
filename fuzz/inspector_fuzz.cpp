// The inspector's walk over one arbitrary file, its listing and messages
// compared with a plain model of what the file's bytes say.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_support.hpp"
#include "ico_builder.hpp"
#include "inspect_icons.hpp"

using fuzz::bytes;
using fuzz::format;

namespace {

struct listing {
    std::string out;
    std::string err;
};

// Every entry is looked at by itself: 16 bytes at 6 + 16 * i, then a
// 40-byte header at its image offset, all of which must lie in the file.
listing model(const bytes& file) {
    listing want;
    const std::size_t size = file.size();
    if (size < 6) {
        want.err = "## ERROR: can't read ICONDIR\n";
        return want;
    }
    const std::uint8_t* p = file.data();
    const unsigned type = fuzz::le16(p + 2);
    const unsigned count = fuzz::le16(p + 4);
    if (type != 1) want.err += format("## WARNING: idType = %u (should be 1)\n", type);
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t at = 6 + 16 * std::size_t{i};
        if (at + 16 > size) {
            want.err += "## ERROR: can't read ICONDIRENTRY\n";
            continue;
        }
        const std::int32_t bytes_in_res = fuzz::le32s(p + at + 8);
        const std::int32_t offset = fuzz::le32s(p + at + 12);
        want.out += format("ICONDIRENTRY[%2u] @%7d", i, offset);
        if (offset < 0 || static_cast<std::size_t>(offset) + 40 > size) {
            want.out += "\n";
            want.err += "## ERROR: can't read BITMAPINFOHEADER\n";
            continue;
        }
        const std::uint8_t* h = p + offset;
        if (h[0] == 0x89 && h[1] == 'P' && h[2] == 'N' && h[3] == 'G') {
            want.out += " : PNG (Vista) format icon\n";
            continue;
        }
        const std::int32_t width = fuzz::le32s(h + 4);
        const std::int32_t height = fuzz::le32s(h + 8);
        const std::uint16_t bit_count = fuzz::le16(h + 14);
        want.out +=
            format(" : biWidth =%4d  biHeight =%4d*2  biPlanes =%2u  biBitCount =%3u  biClrUsed =%4d\n",
                   width, height / 2, unsigned{fuzz::le16(h + 12)}, unsigned{bit_count}, fuzz::le32s(h + 32));
        const std::int32_t expected = icon_test::reference_size(width, height, bit_count);
        if (expected != bytes_in_res) {
            want.err += format("## ERROR: dwBytesInRes should be %d (not %d)\n", expected, bytes_in_res);
        }
    }
    return want;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
    bytes data(raw, raw + size);
    fuzz::bound_icon_count(data);
    const listing want = model(data);
    fuzz::console_capture console;
    std::FILE* in = fuzz::open_bytes(data);
    inspect_stream(in);
    std::fclose(in);
    fuzz::check_text(console.out(), want.out, "inspector standard output");
    fuzz::check_text(console.err(), want.err, "inspector standard error");
    return 0;
}
