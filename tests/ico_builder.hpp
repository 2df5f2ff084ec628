// Icon files built byte by byte from the ICO layout, for the tests and the
// fuzz seeds, independently of the library under test: fields are laid out
// here by hand, and the size a bitmap's header implies is reckoned here by
// a reference of its own. Built bytes are read back through open_bytes, and
// written into folders made by new_folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace icon_test {

using bytes = std::vector<std::uint8_t>;

// Appends a field, least significant byte first.
void put_u16(bytes& out, std::uint16_t value);
void put_u32(bytes& out, std::uint32_t value);

// `data` with the low `width` bytes of `value` (4 for a 32-bit field, 2 or 1
// for the smaller ones) written over it at `at`, least significant first.
bytes patched(bytes data, std::size_t at, std::uint32_t value, std::size_t width = 4);
// The first `length` bytes of `data`, zero bytes added when it is shorter.
bytes cut(bytes data, std::size_t length);
std::uint32_t u32_at(const bytes& data, std::size_t at);

// The size a bitmap image's header implies, reckoned in 64 bits and cut to
// 32 only where the format's arithmetic wraps (before each division and at
// the end): header, full colour table up to 8 bits, and biHeight / 2 rows of
// colour and mask bits, each row rounded as the format rounds it.
std::int32_t reference_size(std::int32_t width, std::int32_t height, std::uint16_t bit_count);

// A bitmap image: a 40-byte header (biSize 40, biPlanes 1) followed by
// patterned bytes up to `size` bytes in all.
bytes bitmap_image(std::int32_t width, std::int32_t height, std::uint16_t bit_count, std::size_t size);
// A bitmap image whose size is the one its header implies.
bytes sized_bitmap(std::int32_t width, std::int32_t height, std::uint16_t bit_count);
// A PNG image of `size` bytes (at least 8): the signature, then a pattern.
bytes png_image(std::size_t size);

// The CRC-32 PNG gives a chunk, reckoned bit by bit.
std::uint32_t reference_crc(const bytes& data);
// One PNG chunk: length, `type` (four letters), `data`, and its CRC.
bytes png_chunk(const char* type, const bytes& data);
// Image data as an IDAT chunk holds it: one filter byte (0) and a pattern
// of samples a row (alpha 255 where there is alpha, palette indices 0 and
// 1), compressed as zlib's stored blocks with their Adler-32, reckoned here.
bytes png_image_data(std::uint32_t width, std::uint32_t height, std::uint8_t bit_depth = 8,
                     std::uint8_t color_type = 6);

// A whole PNG stream: the signature, IHDR, for a palette image (colour type
// 3) a PLTE of two colours, an IDAT and IEND. The IDAT holds the image's
// data (png_image_data); given a `data_size`, that many patterned bytes
// instead, which do not decode, for checks that never inflate them.
bytes png_stream(std::uint32_t width, std::uint32_t height, std::uint8_t bit_depth = 8,
                 std::uint8_t color_type = 6, std::size_t data_size = 0);

// An icon file holding `images` back to back behind a directory of one entry
// per image (16 x 16, 1 plane, 32 bits), each entry with dwBytesInRes = the
// image's length and dwImageOffset = where it lies. Entry i starts at byte
// entry_at(i); its dwBytesInRes at + 8 and its dwImageOffset at + 12.
bytes icon_file(const std::vector<bytes>& images, std::uint16_t id_type = 1);
inline std::size_t entry_at(std::size_t i) { return 6 + 16 * i; }

// A read-only stream over `data`, which must outlive it: a memory stream, or
// on Windows, which has none, a temporary file holding a copy. Null when it
// cannot be made.
std::FILE* open_bytes(bytes& data);

// A scratch stream for reading and writing, gone once closed. On Windows
// not tmpfile(): its names come from the clock, and a process that meets the
// name of another's file being deleted gives up, so parallel tests fail now
// and then; these names carry the process id and a count.
std::FILE* temporary_stream();

// A new folder in `parent`, named `prefix` and a random number, made by this
// call: a name already taken is passed over, so processes that run side by
// side never share one. Answers its path; empty when none could be made.
std::string new_folder(const std::string& parent, const std::string& prefix);

}  // namespace icon_test
