#include "file_checks.hpp"

#include <algorithm>
#include <string>
#include <tuple>

namespace {

// Directory fields are unsigned 32-bit values to the readers, whatever bit 31 says.
std::int64_t image_offset(const ICONDIRENTRY& entry) { return std::uint32_t(entry.dwImageOffset); }
std::int64_t image_length(const ICONDIRENTRY& entry) { return std::uint32_t(entry.dwBytesInRes); }

std::int32_t width_of(const image_record& image) {
    return image.facts.width > 0 ? image.facts.width : entry_pixels(image.entry.bWidth);
}
std::int32_t height_of(const image_record& image) {
    return image.facts.height > 0 ? image.facts.height : entry_pixels(image.entry.bHeight);
}
std::int32_t depth_of(const image_record& image, std::uint16_t id_type) {
    if (image.facts.bit_count != 0) return image.facts.bit_count;
    return id_type == 2 ? 0 : image.entry.wBitCount;
}

void check_header(const ICONDIR& dir, std::vector<finding>& out) {
    if (dir.idReserved != 0) {
        add_finding(out, -1, 0, severity::warning, "header-reserved",
                    finding_text("idReserved is %u, not 0", unsigned{dir.idReserved}));
    }
    if (dir.idType != 1 && dir.idType != 2) {
        add_finding(out, -1, 2, severity::error, "header-type",
                    finding_text("idType is %u: neither an icon (1) nor a cursor (2)", unsigned{dir.idType}));
    }
    if (dir.idCount == 0)
        add_finding(out, -1, 4, severity::error, "header-count", "idCount is 0: the file holds no image");
}

// Where image `index` lies against the file and the directory.
void check_placement(const image_record& image, std::int32_t index, std::int64_t file_size,
                     std::int64_t directory_end, std::vector<finding>& out) {
    const std::int64_t at = image_offset(image.entry);
    const std::int64_t length = image_length(image.entry);
    if (at < directory_end) {
        add_finding(
            out, index, icon_dir_entry_offset(index) + 12, severity::error, "image-in-directory",
            finding_text("the image starts at byte %lld, inside the header and directory (%lld bytes)",
                         static_cast<long long>(at), static_cast<long long>(directory_end)));
    }
    if (at >= file_size) {
        add_finding(out, index, icon_dir_entry_offset(index) + 12, severity::error, "image-past-end",
                    finding_text("the image starts at byte %lld, past the end of the %lld-byte file",
                                 static_cast<long long>(at), static_cast<long long>(file_size)));
    } else if (at + length > file_size) {
        const std::int64_t beyond = at + length - file_size;
        add_finding(
            out, index, icon_dir_entry_offset(index) + 8, severity::error, "image-past-end",
            finding_text("the image's %lld bytes from byte %lld run %lld bytes past the end of the file",
                         static_cast<long long>(length), static_cast<long long>(at),
                         static_cast<long long>(beyond)));
    }
}

// Images of the same width, height and depth: readers choose among them
// differently, so which one is shown depends on the reader.
void check_duplicates(const file_report& report, const finding_sink& sink) {
    std::vector<finding> out;  // one at a time: a file may have 65,534 of them
    using key = std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t>;  // w, h, depth, index
    std::vector<key> keys;
    keys.reserve(report.images.size());
    for (std::size_t i = 0; i < report.images.size(); ++i) {
        const image_record& image = report.images[i];
        if (!image.entry_read) continue;
        keys.emplace_back(width_of(image), height_of(image), depth_of(image, report.id_type),
                          static_cast<std::int32_t>(i));
    }
    std::sort(keys.begin(), keys.end());
    for (std::size_t first = 0; first < keys.size();) {
        std::size_t last = first;
        while (last + 1 < keys.size() && std::get<0>(keys[last + 1]) == std::get<0>(keys[first]) &&
               std::get<1>(keys[last + 1]) == std::get<1>(keys[first]) &&
               std::get<2>(keys[last + 1]) == std::get<2>(keys[first])) {
            ++last;
        }
        const std::int32_t shown_first = std::get<3>(keys[first]);
        const std::int32_t shown_last = std::get<3>(keys[last]);
        for (std::size_t k = first + 1; k <= last; ++k) {
            const std::int32_t index = std::get<3>(keys[k]);
            add_finding(out, index, icon_dir_entry_offset(index), severity::warning, "duplicate-image",
                        finding_text(
                            "%ld x %ld at %ld bits, as image %ld: Windows shows image %ld, Firefox image %ld",
                            static_cast<long>(std::get<0>(keys[k])), static_cast<long>(std::get<1>(keys[k])),
                            static_cast<long>(std::get<2>(keys[k])), static_cast<long>(shown_first),
                            static_cast<long>(shown_first), static_cast<long>(shown_last)));
            sink(out.back(), &report.images[static_cast<std::size_t>(index)]);
            out.clear();
        }
        first = last + 1;
    }
}

void check_required(const file_report& report, const lint_options& options, std::vector<finding>& out) {
    for (const std::int32_t size : options.required_sizes) {
        const bool present =
            std::any_of(report.images.begin(), report.images.end(), [&](const image_record& image) {
                return image.entry_read && width_of(image) == size && height_of(image) == size;
            });
        if (!present) {
            add_finding(out, -1, -1, severity::error, "required-size",
                        finding_text("no %ld x %ld image, which is required", static_cast<long>(size),
                                     static_cast<long>(size)));
        }
    }
}

}  // namespace

bool has_error(const std::vector<finding>& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const finding& f) { return f.level == severity::error; });
}

std::int64_t image_end(std::int64_t offset, const image_facts& facts, std::int64_t available) {
    const std::int64_t sized = facts.size > 0 ? std::min(facts.size, available) : 0;
    return offset + std::max(facts.examined, sized);
}

examination_plan::step examination_plan::next(std::int64_t offset) const {
    if (offset == last_offset_) return step::share;
    return offset < reach_ ? step::inside : step::examine;
}

void examination_plan::examined(std::int32_t index, std::int64_t offset, std::int64_t end) {
    last_offset_ = offset;
    last_index_ = index;
    if (end > reach_) {
        reach_ = end;
        owner_ = index;
    }
}

bool lint_stream(std::FILE* stream, const lint_options& options, file_report& report) {
    return lint_stream(stream, options, report,
                       [&report](const finding& f, const image_record*) { report.findings.push_back(f); });
}

bool lint_stream(std::FILE* stream, const lint_options& options, file_report& report,
                 const finding_sink& sink) {
    std::int64_t file_size = -1;
    if (stream_seek(stream, SEEK_FROM_END, 0) != IO_OK || stream_tell(stream, &file_size) != IO_OK ||
        file_size < 0 || stream_seek(stream, SEEK_FROM_START, 0) != IO_OK) {
        return false;
    }
    // The findings of the file or of one image, handed on together once its
    // facts are known: at most a few dozen at a time.
    std::vector<finding> batch;
    const auto hand_on = [&batch, &sink](const image_record* image) {
        for (const finding& f : batch) sink(f, image);
        batch.clear();
    };
    ICONDIR dir{};
    if (read_icon_dir(stream, dir) != IO_OK) {
        add_finding(batch, -1, 0, severity::error, "directory-truncated",
                    finding_text("the file is %lld bytes, too short for the 6-byte header",
                                 static_cast<long long>(file_size)));
        hand_on(nullptr);
        return true;
    }
    report.id_type = dir.idType;
    check_header(dir, batch);
    const std::int64_t directory_end = icon_dir_entry_offset(dir.idCount);
    if (file_size < directory_end) {
        add_finding(batch, -1, file_size, severity::error, "directory-truncated",
                    finding_text("the directory of %u entries needs %lld bytes; the file has %lld",
                                 unsigned{dir.idCount}, static_cast<long long>(directory_end),
                                 static_cast<long long>(file_size)));
    }
    hand_on(nullptr);
    report.images.resize(dir.idCount);
    for (image_record& image : report.images) {
        if (read_icon_dir_entry(stream, image.entry) != IO_OK) break;
        image.entry_read = true;
    }

    std::vector<std::int32_t> by_offset;
    by_offset.reserve(report.images.size());
    for (std::size_t i = 0; i < report.images.size(); ++i) {
        if (report.images[i].entry_read) by_offset.push_back(static_cast<std::int32_t>(i));
    }
    std::sort(by_offset.begin(), by_offset.end(), [&](std::int32_t a, std::int32_t b) {
        const auto& ea = report.images[static_cast<std::size_t>(a)].entry;
        const auto& eb = report.images[static_cast<std::size_t>(b)].entry;
        return std::make_pair(image_offset(ea), a) < std::make_pair(image_offset(eb), b);
    });

    // Front to back through the file. Each image is reported against the
    // earlier-starting one whose bytes (by its entry, or as examined) reach
    // furthest, so n overlapping images give n - 1 findings; an image that
    // starts inside bytes already examined is not read again.
    examination_plan plan;
    std::int64_t reach = 0;
    std::int32_t owner = -1;
    for (const std::int32_t index : by_offset) {
        image_record& image = report.images[static_cast<std::size_t>(index)];
        const std::int64_t at = image_offset(image.entry);
        const std::int64_t end = at + image_length(image.entry);
        // An image past the end has 0 bytes in the file, not an unknown number.
        const std::int64_t available = std::max<std::int64_t>(0, file_size - at);
        check_placement(image, index, file_size, directory_end, batch);
        const examination_plan::step step = plan.next(at);
        if (step == examination_plan::step::inside) {
            add_finding(batch, index, at, severity::warning, "image-overlap",
                        finding_text("the image starts at byte %lld, inside image %ld's bytes, which run to "
                                     "%lld and were examined already; it is not examined again",
                                     static_cast<long long>(at), static_cast<long>(plan.owner()),
                                     static_cast<long long>(plan.reach() - 1)));
        } else if (end != at && owner >= 0 && at < reach) {
            add_finding(batch, index, at, severity::warning, "image-overlap",
                        finding_text("the image's bytes %lld to %lld overlap image %ld's, which run to %lld",
                                     static_cast<long long>(at), static_cast<long long>(end - 1),
                                     static_cast<long>(owner), static_cast<long long>(reach - 1)));
        }
        if (step == examination_plan::step::share) {
            // The shared image's own findings were given once, for the first entry.
            image.facts = report.images[static_cast<std::size_t>(plan.last())].facts;
        } else if (step == examination_plan::step::examine) {
            image.facts = examine_image(stream, index, at, available, image.entry.dwBytesInRes, batch);
            // The bytes read: an image in a bitmap's rows, which are not, is still examined.
            plan.examined(index, at, at + image.facts.examined);
        }
        check_entry(index, image.entry, dir.idType, image.facts, batch);
        const std::int64_t last =
            std::max(end != at ? end : 0,
                     step == examination_plan::step::examine ? image_end(at, image.facts, available) : 0);
        if (last > reach) {
            reach = last;
            owner = index;
        }
        hand_on(&image);
    }
    check_duplicates(report, sink);
    check_required(report, options, batch);
    hand_on(nullptr);
    return true;
}
