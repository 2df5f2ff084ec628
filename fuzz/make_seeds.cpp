// Writes the starting corpus of a fuzz target into a folder, built here from
// the ICO layout: make_seeds <records|inspector|bundler> <folder>.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bundle_inputs.hpp"

namespace {

using bytes = std::vector<std::uint8_t>;

void put16(bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFFu));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFFu));
}

void put32(bytes& out, std::uint32_t v) {
    put16(out, v & 0xFFFFu);
    put16(out, v >> 16);
}

std::uint32_t u(std::int32_t v) { return static_cast<std::uint32_t>(v); }

// A bitmap image of `size` bytes (the size its header implies unless given).
bytes bitmap(std::int32_t width, std::int32_t height, std::uint16_t bits, std::int64_t size = -1) {
    bytes out;
    put32(out, 40);
    put32(out, u(width));
    put32(out, u(height));
    put16(out, 1);
    put16(out, bits);
    for (int i = 0; i < 6; ++i) put32(out, 0);
    if (size < 0) {
        const std::int64_t row = ((std::int64_t{bits} * width + 31) / 32) * 4 + ((width + 31) / 32) * 4;
        size = 40 + (bits <= 8 ? 4 << bits : 0) + row * (height / 2);
    }
    for (std::int64_t i = 40; i < size; ++i) out.push_back(static_cast<std::uint8_t>(i * 13 + 1));
    out.resize(static_cast<std::size_t>(size));
    return out;
}

bytes png(std::size_t size) {
    bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    while (out.size() < size) out.push_back(static_cast<std::uint8_t>(out.size() * 7));
    out.resize(size);
    return out;
}

bytes icon(const std::vector<bytes>& images, std::uint16_t type = 1) {
    bytes out;
    put16(out, 0);
    put16(out, type);
    put16(out, static_cast<std::uint32_t>(images.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (const bytes& image : images) {
        out.insert(out.end(), {16, 16, 0, 0});
        put16(out, 1);
        put16(out, 32);
        put32(out, static_cast<std::uint32_t>(image.size()));
        put32(out, offset);
        offset += static_cast<std::uint32_t>(image.size());
    }
    for (const bytes& image : images) out.insert(out.end(), image.begin(), image.end());
    return out;
}

bytes patched32(bytes data, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        data.at(at + i) = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
    return data;
}

bytes cut(bytes data, std::size_t length) {
    data.resize(std::min(length, data.size()));
    return data;
}

// Icon files the inspector and the bundler meet: every accepted depth, PNG,
// cursors, odd and negative sizes, wrapped sizes, cut and hostile directories.
std::vector<bytes> icon_files() {
    const bytes mixed = icon({bitmap(16, 32, 4), bitmap(32, 64, 32), png(100)});
    std::vector<bytes> files = {
        mixed,
        icon({bitmap(16, 32, 1), bitmap(16, 32, 8), bitmap(8, 16, 16), bitmap(4, 8, 24)}),
        icon({png(60)}, 2),
        icon({}),
        icon({bitmap(16, 33, 4, 296), bitmap(-16, 32, 4, 40), bitmap(16, -32, 4, 40)}),
        icon({bitmap(16, INT32_MIN, 32, 40), bitmap(1 << 30, 64, 4, 104)}),
        icon({bitmap(16, 32, 3, 264), bitmap(16, 32, 0, 108), bitmap(16, 32, 9, 424)}),
        patched32(mixed, 6 + 8, 0x7FFFFFFF),
        patched32(mixed, 6 + 12, 0x80000000),
        patched32(mixed, 6 + 16 + 12, 6),
        patched32(icon({png(48)}), 6 + 8, 0xFFFFFFF0),
        cut(mixed, 6 + 16 + 9),
        cut(mixed, 100),
        {0, 0, 1, 0, 0xFF, 0xFF},
    };
    return files;
}

void save(const std::filesystem::path& folder, const std::string& name, const bytes& data) {
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s records|inspector|bundler folder\n", argv[0]);
        return 2;
    }
    const std::string target = argv[1];
    const std::filesystem::path folder = argv[2];
    std::filesystem::create_directories(folder);
    const std::vector<bytes> files = icon_files();
    int n = 0;
    const auto name = [&n] { return "seed-" + std::to_string(n++); };
    if (target == "records") {
        // Headers and directory records at the start of the bytes.
        for (const bytes& image :
             {bitmap(16, 32, 4), bitmap(-100, 32, 1, 40), bitmap(INT32_MAX, 2, 32, 40), png(40)}) {
            save(folder, name(), cut(image, 40));
        }
        for (const bytes& file : files) save(folder, name(), cut(file, 22));
        save(folder, name(), {});
    } else if (target == "inspector") {
        for (const bytes& file : files) save(folder, name(), file);
    } else if (target == "bundler") {
        for (const bytes& file : files) save(folder, name(), fuzz::join_inputs(0, {file}));
        save(folder, name(), fuzz::join_inputs(fuzz::repeat_first_input, {files[0], files[1], files[2]}));
        save(folder, name(), fuzz::join_inputs(fuzz::add_missing_input, {files[4], {}, files[5]}));
    } else {
        std::fprintf(stderr, "unknown target %s\n", target.c_str());
        return 2;
    }
    return 0;
}
