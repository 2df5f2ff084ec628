// The PE walk and icon-extract over one arbitrary icon, cursor or PE file,
// after a first byte of options (bit 0: --png, bit 1: JSON). The walk must
// end, give only images inside the file that share no byte, and so add up
// to the file at most. The run must end with status 1 exactly when it
// reports an error, one diagnostic a line, one listing line a file written
// and no other file left; every PNG file listed as kept must be bytes of
// the input (one converted a PNG stream that decodes), every icon or cursor
// file a directory of images laid out one after the other, each bytes of
// the input, and all the bytes kept must add up to the input at most.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "extract_icons.hpp"
#include "fuzz_support.hpp"
#include "pe_resources.hpp"
#include "png_codec.hpp"

using fuzz::bytes;
using fuzz::check;
using fuzz::lines;

namespace {

constexpr std::uint8_t as_png = 1;
constexpr std::uint8_t as_json = 2;

bool in_input(const std::uint8_t* data, std::size_t size, const bytes& input) {
    return std::search(input.begin(), input.end(), data, data + size) != input.end();
}

void check_walk(bytes& data) {
    std::FILE* in = fuzz::open_bytes(data);
    pe_report report;
    read_pe_resources(in, static_cast<std::int64_t>(data.size()), report);
    std::fclose(in);
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    for (const resource_group& group : report.groups) {
        check(!group.images.empty() || !group.findings.empty(), "a group without images says nothing");
        for (const group_image& image : group.images) {
            const std::int64_t start = image.offset - (group.cursor ? CURSOR_HOTSPOT_SIZE : 0);
            check(image.size > 0 && start >= 0 && image.offset + image.size <= std::int64_t(data.size()),
                  "an image outside the file");
            ranges.emplace_back(start, image.offset + image.size);
        }
    }
    std::sort(ranges.begin(), ranges.end());
    for (std::size_t i = 1; i < ranges.size(); ++i)
        check(ranges[i - 1].second <= ranges[i].first, "two images share bytes");
}

// An icon or cursor file written from a group: its header, its entries, and
// behind them its images one after the other, each bytes of the input.
// Answers the bytes of its images.
std::size_t check_icon_file(const bytes& file, const bytes& input) {
    check(file.size() >= 6 && fuzz::le16(file.data()) == 0, "a group's file without its header");
    const std::uint16_t type = fuzz::le16(file.data() + 2);
    const std::size_t count = fuzz::le16(file.data() + 4);
    check((type == 1 || type == 2) && count > 0 && file.size() >= 6 + 16 * count,
          "a group's file with a bad header");
    std::size_t offset = 6 + 16 * count;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = file.data() + 6 + 16 * i;
        const std::uint32_t size = fuzz::le32(entry + 8);
        check(fuzz::le32(entry + 12) == offset && size > 0 && offset + size <= file.size(),
              "an image not where the entries say");
        check(in_input(file.data() + offset, size, input), "an image not taken from the input");
        offset += size;
    }
    check(offset == file.size(), "bytes after the last image");
    return offset - (6 + 16 * count);
}

// Whether the listing line of `name` says its bytes were kept.
bool listed_as_kept(const std::vector<std::string>& listing, const std::string& name, bool json) {
    const auto line = std::find_if(listing.begin(), listing.end(), [&](const std::string& l) {
        return l.find("/" + name + (json ? "\"" : ": ")) != std::string::npos;
    });
    check(line != listing.end(), "a file written but not listed");
    const std::string& text = *line;
    const std::string kept = json ? "\"kept\":true}" : "kept";
    return text.size() >= kept.size() && text.compare(text.size() - kept.size(), kept.size(), kept) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::make_scratch_folder("extract-fuzz-");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t options = raw[0];
    bytes data(raw + 1, raw + size);
    fuzz::bound_icon_count(data);
    if (data.size() >= 2 && data[0] == 'M' && data[1] == 'Z') check_walk(data);

    const std::string folder = fuzz::scratch_folder() + "/out";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    const std::string input = fuzz::scratch_folder() + "/in.bin";
    fuzz::write_file(input, data);
    extract_request request;
    request.directory = folder.c_str();
    request.png = (options & as_png) != 0;
    request.format = (options & as_json) != 0 ? listing_format::json : listing_format::text;
    request.inputs.push_back(input.c_str());
    int status = 0;
    std::string out;
    std::string err;
    {
        fuzz::console_capture console;
        status = extract_icons(request);
        out = console.out();
        err = console.err();
    }
    check(status == 0 || status == 1, "status neither 0 nor 1");
    bool error = false;
    for (const std::string& line : lines(err)) {
        error = error || line.find(": error: ") != std::string::npos;
        check(line.find(": error: ") != std::string::npos || line.find(": warning: ") != std::string::npos ||
                  line.find(": note: ") != std::string::npos,
              "a line on standard error without its severity");
        check(!line.empty() && line.back() == ']', "a line on standard error without its id");
    }
    check(error == (status == 1), "the status does not tell whether an error was reported");
    const std::vector<std::string> listing = lines(out);
    const bool json = request.format == listing_format::json;
    std::size_t files = 0;
    std::size_t kept = 0;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        ++files;
        const std::string name = item.path().filename().string();
        check(name.find(".tmp") == std::string::npos, "a temporary file left");
        const bytes written = fuzz::read_file(item.path().string());
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) {
            if (listed_as_kept(listing, name, json)) {
                check(!written.empty() && in_input(written.data(), written.size(), data),
                      "a PNG file kept but not bytes of the input");
                kept += written.size();
            } else {
                rgba_image image;
                check(decode_png(written.data(), written.size(), image) == image_status::ok,
                      "a converted file that does not decode");
            }
        } else {
            check(listed_as_kept(listing, name, json), "a group's file not listed as kept");
            kept += check_icon_file(written, data);
        }
    }
    check(files == listing.size(), "not one listing line a file written");
    check(kept <= data.size(), "more bytes kept than the input holds");
    for (const std::string& line : listing) {
        check(request.format == listing_format::text || line.rfind("{\"output\":\"", 0) == 0,
              "a JSON line without its output");
    }
    return 0;
}
