// What the readers that show icon files do with them, as measured: Windows
// (Wine's loader: CreateIconFromResourceEx on an image, LookupIconIdFromDirectoryEx
// and LoadImageW on a file), Chrome, Firefox, GNOME (GdkPixbuf) and Qt.
//
// Two halves. What a reader does with one image (shows it, fails it, shows
// another picture, or the same picture with other pixels) is stated by each
// check as a reader_effect, and the severity follows from it: an error when
// Windows, Chrome or Firefox fails the image or shows another picture, a
// warning when GNOME or Qt does, when one reader shows other pixels, or when
// the readers choose different images of the file; a note otherwise. Which
// image each reader shows is pick_images, from the directory and what the
// images' own bytes say.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

enum class severity { error, warning, note };

// "error", "warning" or "note".
const char* severity_name(severity level);

// A set of readers, one bit each, in the order the readers are listed.
using reader_set = std::uint8_t;
inline constexpr int READER_COUNT = 5;
inline constexpr reader_set WINDOWS = 1u << 0;
inline constexpr reader_set CHROME = 1u << 1;
inline constexpr reader_set FIREFOX = 1u << 2;
inline constexpr reader_set GNOME = 1u << 3;
inline constexpr reader_set QT = 1u << 4;
inline constexpr reader_set MAJOR_READERS = WINDOWS | CHROME | FIREFOX;
inline constexpr reader_set ALL_READERS = MAJOR_READERS | GNOME | QT;

// "Windows", "Chrome", "Firefox", "GNOME", "Qt" for reader 0 to 4.
const char* reader_name(int reader);
// "windows", "chrome", "firefox", "gnome", "qt": the names in JSON and SARIF.
const char* reader_key(int reader);

// "Chrome", "Chrome and Firefox", "Windows, Chrome and Firefox".
std::string reader_list(reader_set readers);

// What a fault makes readers do.
struct reader_effect {
    reader_set fails = 0;    // refuse the image or the file, or draw it blank
    reader_set wrong = 0;    // show another picture than the directory describes
    reader_set differs = 0;  // show the picture with some pixels or colours changed
    reader_set choose = 0;   // show different images of the file at one size
};

reader_set readers_of(const reader_effect& effect);

// Error, warning or note, by the rule above.
severity severity_of(const reader_effect& effect);

// What the readers do, in words: "Chrome and Firefox fail it; Qt shows
// another picture". "no reader is affected" for an effect on none.
std::string effect_phrase(const reader_effect& effect);

// The sizes at which the readers' choices are compared and shown.
inline constexpr std::array<std::int32_t, 6> COMMON_SIZES = {16, 24, 32, 48, 64, 256};
inline constexpr std::size_t SIZE_COUNT = COMMON_SIZES.size();

// One directory entry as the readers' pickers see it.
struct pick_entry {
    std::int32_t width = 0;        // bWidth, 0 read as 256
    std::int32_t height = 0;       // bHeight, 0 read as 256
    std::uint16_t bit_count = 0;   // wBitCount (a cursor's hotspot y)
    std::uint8_t color_count = 0;  // bColorCount
    // What LoadImageW reads from the image itself: a bitmap's biBitCount at
    // the entry's size, or a PNG stream's own size at 32 bits (RGBA) or 24
    // (any other colour type).
    std::int32_t file_width = 0;
    std::int32_t file_height = 0;
    std::uint16_t file_bits = 0;
    bool file_readable = false;  // LoadImageW can read the image's header
    bool plain_bitmap = false;   // a bitmap whose biCompression is 0: GNOME reads no other kind
    bool in_directory = false;   // the image starts inside the header and directory
};

// The image each reader shows; -1 for none.
struct reader_picks {
    // Windows at each of COMMON_SIZES: as a program's icon resource
    // (LookupIconIdFromDirectoryEx, by the entries alone) and from the file
    // (LoadImageW, by the images' own headers). For a cursor file both are
    // LoadImageW's choice of a cursor.
    std::array<std::int32_t, SIZE_COUNT> windows{};
    std::array<std::int32_t, SIZE_COUNT> windows_file{};
    // The others show one image of the file, scaled, at every size: Chrome
    // and Firefox their largest (Chrome none when an image starts inside
    // the directory; Firefox passes over such an image), GNOME its largest
    // plain bitmap by bColorCount, Qt the first.
    std::int32_t chrome = -1;
    std::int32_t firefox = -1;
    std::int32_t gnome = -1;
    std::int32_t qt = -1;
};

// The choices of every reader for a file of these entries; `cursor` for a
// file whose idType is 2.
reader_picks pick_images(const std::vector<pick_entry>& entries, bool cursor);

// The image reader 0 to 4 shows at COMMON_SIZES[size_index]; -1 for none.
// Windows is its resource choice here.
std::int32_t shown_at(const reader_picks& picks, int reader, std::size_t size_index);
