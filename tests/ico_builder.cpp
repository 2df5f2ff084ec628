#include "ico_builder.hpp"

#include <algorithm>
#ifdef _WIN32
#include <process.h>
#endif

#include <chrono>
#include <filesystem>
#include <random>
#include <system_error>

namespace icon_test {

void put_u16(bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFFu));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put_u32(bytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu));
}

bytes patched(bytes data, std::size_t at, std::uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        data.at(at + i) = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
    return data;
}

bytes cut(bytes data, std::size_t length) {
    data.resize(length, 0);
    return data;
}

std::uint32_t u32_at(const bytes& data, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= std::uint32_t{data.at(at + i)} << (8 * i);
    return value;
}

namespace {

std::int32_t low32(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value & 0xFFFFFFFF));
}

// Truncating division by 8, then down to a multiple of 4.
std::int64_t row_bytes(std::int64_t bits) {
    const std::int32_t quotient = low32(bits + 31) / 8;
    const std::int32_t below = ((quotient % 4) + 4) % 4;
    return std::int64_t{quotient} - below;
}

}  // namespace

std::int32_t reference_size(std::int32_t width, std::int32_t height, std::uint16_t bit_count) {
    const std::int64_t rows = height / 2;
    const std::int64_t colour = row_bytes(std::int64_t{bit_count} * width);
    const std::int64_t mask = row_bytes(width);
    const std::int64_t table = bit_count <= 8 ? std::int64_t{4} << bit_count : 0;
    return low32(40 + rows * low32(colour + mask) + table);
}

bytes bitmap_image(std::int32_t width, std::int32_t height, std::uint16_t bit_count, std::size_t size) {
    bytes out;
    put_u32(out, 40);
    put_u32(out, static_cast<std::uint32_t>(width));
    put_u32(out, static_cast<std::uint32_t>(height));
    put_u16(out, 1);
    put_u16(out, bit_count);
    for (int i = 0; i < 6; ++i) put_u32(out, 0);
    // Image bytes that are never zero by chance, so a slot padded with
    // zeros cannot pass for a copy.
    for (std::size_t i = out.size(); i < size; ++i) out.push_back(static_cast<std::uint8_t>(i * 13 + 1));
    out.resize(size);
    return out;
}

bytes sized_bitmap(std::int32_t width, std::int32_t height, std::uint16_t bit_count) {
    return bitmap_image(width, height, bit_count,
                        static_cast<std::size_t>(reference_size(width, height, bit_count)));
}

bytes png_image(std::size_t size) {
    bytes out = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    for (std::size_t i = out.size(); i < size; ++i) out.push_back(static_cast<std::uint8_t>(i * 7));
    out.resize(size);
    return out;
}

std::uint32_t reference_crc(const bytes& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1u) != 0 ? 0xEDB88320u : 0u);
    }
    return ~crc;
}

namespace {

void put_be32(bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace

bytes png_chunk(const char* type, const bytes& data) {
    bytes out;
    put_be32(out, static_cast<std::uint32_t>(data.size()));
    bytes covered(type, type + 4);
    covered.insert(covered.end(), data.begin(), data.end());
    out.insert(out.end(), covered.begin(), covered.end());
    put_be32(out, reference_crc(covered));
    return out;
}

bytes png_image_data(std::uint32_t width, std::uint32_t height, std::uint8_t bit_depth,
                     std::uint8_t color_type) {
    const std::size_t channels = color_type == 2 ? 3 : color_type == 4 ? 2 : color_type == 6 ? 4 : 1;
    const std::size_t row = (std::size_t{width} * channels * bit_depth + 7) / 8;
    bytes raw;
    for (std::uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        for (std::size_t i = 0; i < row; ++i) {
            std::uint8_t sample = static_cast<std::uint8_t>(i * 7 + std::size_t{y} * 13);
            if (color_type == 3) sample &= bit_depth == 1 ? 0x55 : 0x11;  // indices 0 and 1
            const std::size_t bytes_a_pixel = channels * bit_depth / 8;
            const bool alpha = (color_type == 4 || color_type == 6) && bytes_a_pixel > 0 &&
                               i % bytes_a_pixel >= bytes_a_pixel - bit_depth / 8;
            raw.push_back(alpha ? 0xFF : sample);
        }
    }
    bytes out = {0x78, 0x01};
    // Stored blocks of at most 65535 bytes, the last marked final.
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(raw.size() - at, 65535);
        out.push_back(at + n == raw.size() ? 1 : 0);
        put_u16(out, static_cast<std::uint16_t>(n));
        put_u16(out, static_cast<std::uint16_t>(~n));
        out.insert(out.end(), raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(at + n));
        at += n;
    } while (at < raw.size());
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put_be32(out, b << 16 | a);
    return out;
}

bytes png_stream(std::uint32_t width, std::uint32_t height, std::uint8_t bit_depth, std::uint8_t color_type,
                 std::size_t data_size) {
    bytes out = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    bytes ihdr;
    put_be32(ihdr, width);
    put_be32(ihdr, height);
    ihdr.insert(ihdr.end(), {bit_depth, color_type, 0, 0, 0});
    bytes data(data_size);
    for (std::size_t i = 0; i < data_size; ++i) data[i] = static_cast<std::uint8_t>(i * 13 + 5);
    if (data_size == 0) data = png_image_data(width, height, bit_depth, color_type);
    std::vector<bytes> chunks = {png_chunk("IHDR", ihdr), png_chunk("IDAT", data), png_chunk("IEND", {})};
    // A palette image has its palette before its data: black and white.
    if (color_type == 3) chunks.insert(chunks.begin() + 1, png_chunk("PLTE", {0, 0, 0, 255, 255, 255}));
    for (const bytes& chunk : chunks) out.insert(out.end(), chunk.begin(), chunk.end());
    return out;
}

bytes icon_file(const std::vector<bytes>& images, std::uint16_t id_type) {
    bytes out;
    put_u16(out, 0);
    put_u16(out, id_type);
    put_u16(out, static_cast<std::uint16_t>(images.size()));
    std::size_t offset = entry_at(images.size());
    for (const bytes& image : images) {
        out.insert(out.end(), {16, 16, 0, 0});
        put_u16(out, 1);
        put_u16(out, 32);
        put_u32(out, static_cast<std::uint32_t>(image.size()));
        put_u32(out, static_cast<std::uint32_t>(offset));
        offset += image.size();
    }
    for (const bytes& image : images) out.insert(out.end(), image.begin(), image.end());
    return out;
}

std::FILE* temporary_stream() {
#ifdef _WIN32
    static unsigned count = 0;
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error) return nullptr;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name =
            L"icon-test-" + std::to_wstring(_getpid()) + L"-" + std::to_wstring(count++) + L".tmp";
        // D: deleted when closed; T: kept in memory where the system can.
        std::FILE* stream = _wfopen((folder / name).c_str(), L"w+bTD");
        if (stream != nullptr) return stream;
    }
    return nullptr;
#else
    return std::tmpfile();
#endif
}

std::FILE* open_bytes(bytes& data) {
#ifdef _WIN32
    std::FILE* stream = temporary_stream();
    if (stream != nullptr && (std::fwrite(data.data(), 1, data.size(), stream) != data.size() ||
                              std::fseek(stream, 0, SEEK_SET) != 0)) {
        std::fclose(stream);
        return nullptr;
    }
    return stream;
#else
    // Not every C library makes a memory stream of no bytes: an empty
    // stream is the null device.
    if (data.empty()) return std::fopen("/dev/null", "rb");
    return fmemopen(data.data(), data.size(), "rb");
#endif
}

std::string new_folder(const std::string& parent, const std::string& prefix) {
    // The clock as well: some C runtimes' random_device gives the same
    // numbers in every process.
    std::mt19937_64 names(
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        char number[17];
        std::snprintf(number, sizeof number, "%016llx", static_cast<unsigned long long>(names()));
        const std::filesystem::path path = std::filesystem::path(parent) / (prefix + number);
        std::error_code error;
        if (std::filesystem::create_directory(path, error)) return path.string();
    }
    return {};
}

}  // namespace icon_test
