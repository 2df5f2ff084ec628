#include "inspect_icons.hpp"

#include <cstdint>

#include "icon_records.hpp"
#include "platform.hpp"
#include "report.hpp"
#include "text_line.hpp"

namespace {

// The inspector positions its stream itself, always from the start of the
// file; a negative offset (bit 31 set on disk) is refused by the platform.
bool seek_to(std::FILE* stream, std::int32_t offset) { return std::fseek(stream, offset, SEEK_SET) == 0; }

void inspect_entry(std::FILE* stream, std::int32_t index) {
    ICONDIRENTRY entry{};
    if (!seek_to(stream, 6 + 16 * index) || read_icon_dir_entry(stream, entry) != IO_OK) {
        report_error("can't read ICONDIRENTRY");
        return;
    }
    text_line{}.text("ICONDIRENTRY[").number(index, 2).text("] @").number(entry.dwImageOffset, 7).put(stdout);

    BITMAPINFOHEADER header{};
    if (!seek_to(stream, entry.dwImageOffset) || read_bitmap_info_header(stream, header) != IO_OK) {
        // End the entry line so the next line does not run on from it.
        std::fputc('\n', stdout);
        report_error("can't read BITMAPINFOHEADER");
        return;
    }
    if (is_png_image(header)) {
        std::fputs(" : PNG (Vista) format icon\n", stdout);
        return;
    }
    text_line{}
        .text(" : biWidth =")
        .number(header.biWidth, 4)
        .text("  biHeight =")
        .number(header.biHeight / 2, 4)
        .text("*2  biPlanes =")
        .number(header.biPlanes, 2)
        .text("  biBitCount =")
        .number(header.biBitCount, 3)
        .text("  biClrUsed =")
        .number(header.biClrUsed, 4)
        .text("\n")
        .put(stdout);
    const std::int32_t expected = expected_image_size(header);
    if (expected != entry.dwBytesInRes) {
        std::fprintf(stderr, "## ERROR: dwBytesInRes should be %ld (not %ld)\n", static_cast<long>(expected),
                     static_cast<long>(entry.dwBytesInRes));
    }
}

}  // namespace

void inspect_stream(std::FILE* stream) {
    ICONDIR dir{};
    if (read_icon_dir(stream, dir) != IO_OK) {
        report_error("can't read ICONDIR");
        return;
    }
    if (dir.idType != 1)
        std::fprintf(stderr, "## WARNING: idType = %d (should be 1)\n", static_cast<int>(dir.idType));
    for (std::int32_t i = 0; i < std::int32_t{dir.idCount}; ++i) inspect_entry(stream, i);
}

void inspect_file(const char* path) {
    // Every seek costs a system call, and one that leaves the buffer costs
    // a read as well: a buffer that holds a whole small icon file keeps its
    // directory and image headers in memory together.
    char buffer[16384];
    const owned_stream stream{std::fopen(path, "rb")};
    if (!stream) return;
    std::setvbuf(stream.get(), buffer, _IOFBF, sizeof buffer);
    // A fresh stream does not know its file offset, so its first seek would
    // read the buffer again even when the target lies in it. Seeking to the
    // start tells it the offset: a small file is then read once. A stream
    // that cannot seek fails here and again, as before, at its first entry.
    seek_to(stream.get(), 0);
    std::printf("%s\n", path);
    inspect_stream(stream.get());
}

int inspector_main(int argc, char** argv) {
    if (!secure_standard_streams()) return 1;
    for (int i = 1; i < argc; ++i) inspect_file(argv[i]);
    // The listing is the inspector's product: losing it is its one failure.
    return finish_standard_output(0);
}
