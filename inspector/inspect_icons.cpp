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
    if (!seek_to(stream, icon_dir_entry_offset(index)) || read_icon_dir_entry(stream, entry) != IO_OK) {
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
        char text[64];
        std::snprintf(text, sizeof text, "dwBytesInRes should be %ld (not %ld)", static_cast<long>(expected),
                      static_cast<long>(entry.dwBytesInRes));
        report_error(text);
    }
}

}  // namespace

void inspect_stream(std::FILE* stream) {
    ICONDIR dir{};
    if (read_icon_dir(stream, dir) != IO_OK) {
        report_error(CANT_READ_ICONDIR);
        return;
    }
    if (dir.idType != 1) {
        char text[48];
        std::snprintf(text, sizeof text, "idType = %d (should be 1)", static_cast<int>(dir.idType));
        report_warning(text);
    }
    for (std::int32_t i = 0; i < std::int32_t{dir.idCount}; ++i) inspect_entry(stream, i);
}

void inspect_file(const char* path) {
    char buffer[INPUT_BUFFER_SIZE];
    const owned_stream stream{std::fopen(path, "rb")};
    if (!stream) return;
    prepare_input(stream.get(), buffer);
    std::printf("%s\n", path);
    inspect_stream(stream.get());
}

int inspector_main(int argc, char** argv) {
    if (!secure_standard_streams()) return 1;
    for (int i = 1; i < argc; ++i) inspect_file(argv[i]);
    // The listing is the inspector's product: losing it is its one failure.
    return finish_standard_output(0);
}
