#include "file_checks.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
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

// The readers that can't show a whole file: every one.
constexpr reader_effect NO_READER_SHOWS{ALL_READERS};

// ---- files that are no icon -----------------------------------------------------------------

std::uint32_t le16(const std::uint8_t* p) { return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8; }
std::uint32_t le24(const std::uint8_t* p) { return le16(p) | std::uint32_t{p[2]} << 16; }
std::uint32_t le32(const std::uint8_t* p) { return le24(p) | std::uint32_t{p[3]} << 24; }
std::uint32_t be16(const std::uint8_t* p) { return std::uint32_t{p[0]} << 8 | p[1]; }
std::uint32_t be32(const std::uint8_t* p) { return be16(p) << 16 | be16(p + 2); }

bool starts(const std::uint8_t* head, std::size_t have, const char* text) {
    const std::size_t n = std::strlen(text);
    return have >= n && std::memcmp(head, text, n) == 0;
}

// True when the text from `head` opens with `word` in any case, after
// white space and a UTF-8 byte order mark.
bool opens_with(const std::uint8_t* head, std::size_t have, const char* word) {
    std::size_t at = starts(head, have, "\xEF\xBB\xBF") ? 3 : 0;
    while (at < have && (head[at] == ' ' || head[at] == '\t' || head[at] == '\r' || head[at] == '\n')) ++at;
    const std::size_t n = std::strlen(word);
    if (have - at < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = static_cast<char>(head[at + i]);
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != word[i]) return false;
    }
    return true;
}

// A JPEG file's size, from its first start-of-frame marker; false when none
// is found. Each segment is one seek, so the walk is bounded by the file.
bool jpeg_size(std::FILE* stream, std::int64_t file_size, std::uint32_t& width, std::uint32_t& height) {
    std::int64_t at = 2;
    while (at + 4 <= file_size) {
        std::uint8_t marker[9] = {};
        std::int32_t n = 4;
        if (stream_seek64(stream, at) != IO_OK || stream_read(stream, &n, marker) != IO_OK || n != 4 ||
            marker[0] != 0xFF)
            return false;
        const std::uint8_t kind = marker[1];
        const bool frame = kind >= 0xC0 && kind <= 0xCF && kind != 0xC4 && kind != 0xC8 && kind != 0xCC;
        if (frame) {
            n = 5;
            if (stream_read(stream, &n, marker + 4) != IO_OK || n != 5) return false;
            height = be16(marker + 5);
            width = be16(marker + 7);
            return true;
        }
        at += 2 + be16(marker + 2);
    }
    return false;
}

constexpr std::string_view SVG_TAG = "<svg";
// The gamma of sRGB as gAMA states it (1 / 2.2).
constexpr std::uint32_t SRGB_GAMMA = 45455;

// What a file that is no icon file is, from its first bytes: a kind and,
// for an image, its size. Empty when it may be an icon.
std::string not_an_icon(std::FILE* stream, std::int64_t file_size, const std::uint8_t* head, std::size_t have,
                        bool& image) {
    image = true;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::string kind;
    if (starts(head, have, "\x89PNG\r\n\x1A\n")) {
        kind = "a PNG image";
        if (have >= 24) width = be32(head + 16), height = be32(head + 20);
    } else if (starts(head, have, "GIF87a") || starts(head, have, "GIF89a")) {
        kind = "a GIF image";
        if (have >= 10) width = le16(head + 6), height = le16(head + 8);
    } else if (starts(head, have, "\xFF\xD8\xFF")) {
        kind = "a JPEG image";
        jpeg_size(stream, file_size, width, height);
    } else if (starts(head, have, "BM") && have >= 26) {
        kind = "a BMP image";
        if (le32(head + 14) == 12) {
            width = le16(head + 18), height = le16(head + 20);
        } else {
            width = le32(head + 18);
            const auto h = static_cast<std::int32_t>(le32(head + 22));
            height = static_cast<std::uint32_t>(h < 0 ? -std::int64_t{h} : h);
        }
    } else if (starts(head, have, "RIFF") && have >= 12 && std::memcmp(head + 8, "WEBP", 4) == 0) {
        kind = "a WebP image";
        if (have >= 30 && std::memcmp(head + 12, "VP8X", 4) == 0) {
            width = le24(head + 24) + 1, height = le24(head + 27) + 1;
        } else if (have >= 25 && std::memcmp(head + 12, "VP8L", 4) == 0) {
            const std::uint32_t bits = le32(head + 21);
            width = (bits & 0x3FFF) + 1, height = ((bits >> 14) & 0x3FFF) + 1;
        } else if (have >= 30 && std::memcmp(head + 12, "VP8 ", 4) == 0) {
            width = le16(head + 26) & 0x3FFF, height = le16(head + 28) & 0x3FFF;
        }
    } else {
        image = false;
        if (starts(head, have, "RIFF") && have >= 12 && std::memcmp(head + 8, "ACON", 4) == 0) {
            kind = "an animated cursor (RIFF ACON)";
        } else if (opens_with(head, have, "<svg") ||
                   (opens_with(head, have, "<?xml") &&
                    std::search(head, head + have, SVG_TAG.begin(), SVG_TAG.end()) != head + have)) {
            kind = "an SVG document";
        } else if (opens_with(head, have, "<!doctype html") || opens_with(head, have, "<html")) {
            kind = "an HTML document";
        } else if (have >= 4 && le16(head) != 0 && le16(head + 2) != 1 && le16(head + 2) != 2) {
            // Neither field of the header holds what an icon's does.
            kind = finding_text("a file that starts with %02X %02X %02X %02X", head[0], head[1], head[2],
                                head[3]);
        }
    }
    if (!kind.empty() && width > 0 && height > 0)
        kind += finding_text(", %lu x %lu", static_cast<unsigned long>(width),
                             static_cast<unsigned long>(height));
    return kind;
}

// ---- the header and the directory -----------------------------------------------------------

void check_header(const ICONDIR& dir, std::vector<finding>& out) {
    if (dir.idReserved != 0) {
        add_finding(
            out, -1, 0, reader_effect{CHROME | GNOME | QT}, "header-reserved",
            finding_text("the header's reserved field is %u, not 0 (idReserved)", unsigned{dir.idReserved}));
    }
    if (dir.idType != 1 && dir.idType != 2) {
        add_finding(out, -1, 2, reader_effect{CHROME | FIREFOX | GNOME | QT}, "header-type",
                    finding_text("the header says the file is neither an icon nor a cursor (idType %u)",
                                 unsigned{dir.idType}));
    }
    if (dir.idCount == 0)
        add_finding(out, -1, 4, NO_READER_SHOWS, "header-count", "the directory lists no image (idCount 0)");
}

// Where image `index` lies against the file and the directory.
void check_placement(const image_record& image, std::int32_t index, std::int64_t file_size,
                     std::int64_t directory_end, std::vector<finding>& out) {
    const std::int64_t at = image_offset(image.entry);
    const std::int64_t length = image_length(image.entry);
    if (at < directory_end) {
        // Chrome then refuses the whole file.
        add_finding(
            out, index, icon_dir_entry_offset(index) + 12, reader_effect{MAJOR_READERS | GNOME, QT},
            "image-in-directory",
            finding_text("the image starts at byte %lld, inside the header and directory (%lld bytes; "
                         "dwImageOffset)",
                         static_cast<long long>(at), static_cast<long long>(directory_end)));
    }
    if (at >= file_size) {
        add_finding(out, index, icon_dir_entry_offset(index) + 12, NO_READER_SHOWS, "image-past-end",
                    finding_text("the image starts at byte %lld, past the end of the %lld-byte file "
                                 "(dwImageOffset)",
                                 static_cast<long long>(at), static_cast<long long>(file_size)));
    } else if (at + length > file_size) {
        // The browsers read what there is; Windows refuses to load the file.
        const std::int64_t beyond = at + length - file_size;
        add_finding(
            out, index, icon_dir_entry_offset(index) + 8, reader_effect{WINDOWS}, "image-past-end",
            finding_text("the image's %lld bytes from byte %lld run %lld bytes past the end of the file "
                         "(dwBytesInRes)",
                         static_cast<long long>(length), static_cast<long long>(at),
                         static_cast<long long>(beyond)));
    }
}

// ---- pixels ---------------------------------------------------------------------------------

// What the pixels of a bitmap make readers do, once they are decoded.
void check_bitmap_pixels(const image_record& image, std::int32_t index, std::int64_t at,
                         std::uint16_t id_type, std::vector<finding>& out) {
    const image_facts& facts = image.facts;
    if (facts.kind != image_kind::bitmap) return;
    const bool alpha = facts.bit_count == 32 && !facts.alpha_zero;
    if (facts.mask_missing) {
        // A 32-bit bitmap's alpha leaves the mask unused; without it Chrome
        // refuses the other depths, and Qt the 4- and 8-bit ones.
        const std::int64_t end = at + facts.colour_end;
        if (alpha || (facts.bit_count == 32 && !facts.decoded)) {
            add_finding(
                out, index, end, reader_effect{}, "bitmap-no-mask",
                finding_text("the file ends after the bitmap's colour rows, at byte %lld, without its "
                             "mask",
                             static_cast<long long>(end)),
                "its alpha leaves the mask unused: every reader shows it");
        } else {
            const bool qt = facts.bit_count == 4 || facts.bit_count == 8;
            add_finding(
                out, index, end, reader_effect{static_cast<reader_set>(CHROME | (qt ? QT : 0))},
                "bitmap-no-mask",
                finding_text("the file ends after the bitmap's colour rows, at byte %lld, without its "
                             "mask",
                             static_cast<long long>(end)));
        }
    }
    if (facts.alpha_zero && facts.decoded && facts.mask_shows) {
        add_finding(out, index, at, reader_effect{0, GNOME | QT}, "bitmap-alpha-zero",
                    "the 32-bit bitmap's alpha is 0 everywhere, so its mask says what is transparent",
                    "GNOME and Qt show it fully transparent");
    }
    if (facts.inverted > 0 && id_type != 2) {
        add_finding(out, index, at, reader_effect{0, 0, WINDOWS}, "bitmap-mask-inverts",
                    finding_text("the mask hides %ld pixels whose colour is not black",
                                 static_cast<long>(facts.inverted)),
                    "Windows inverts the screen under them where the browsers show nothing");
    }
    if (facts.two_colours) {
        add_finding(out, index, at + facts.header_size, reader_effect{0, 0, GNOME}, "bitmap-two-colours",
                    "the 1-bit bitmap's colours are not black and white", "GNOME shows black and white");
    }
}

// A PNG image Windows makes a 24-bit bitmap of shows other pixels there
// only where its pixels have red and blue apart, or a transparent colour
// key: decoded, the finding says which, or that nothing changes.
void refine_colour_type(const image_facts& facts, std::int32_t index, std::vector<finding>& batch) {
    if (facts.kind != image_kind::png || !facts.decoded ||
        !png_without_alpha(facts.png_color_type, facts.png_bit_depth, facts.png_trns))
        return;
    for (finding& f : batch) {
        if (f.image != index || std::strcmp(f.id, "png-not-rgba") != 0 || f.effect.differs == 0) continue;
        const bool swapped = facts.png_color_type != 0 && facts.png_red_blue;
        const bool key_lost = facts.png_trns && facts.png_bit_depth == 8 &&
                              (facts.png_color_type == 0 || facts.png_color_type == 2) &&
                              facts.png_transparent;
        std::vector<finding> again;
        add_finding(again, index, f.offset, swapped || key_lost ? f.effect : reader_effect{}, f.id,
                    f.message.substr(0, f.message.rfind(": ")), png_colour_phrase(swapped, key_lost));
        f = again.front();
    }
}

// A PNG image whose gAMA asks for another gamma than sRGB's, or comes with
// cHRM, and no sRGB or iCCP chunk: Chrome draws it blank, alone in its icon
// or beside others.
void check_gamma(const image_facts& facts, std::int32_t index, std::int64_t at, std::vector<finding>& out) {
    if (facts.kind != image_kind::png || facts.png_gamma == 0 || facts.png_srgb) return;
    if (facts.png_gamma == SRGB_GAMMA && !facts.png_chrm) return;
    add_finding(out, index, at, reader_effect{CHROME}, "png-gamma",
                facts.png_chrm
                    ? finding_text("the PNG image has gAMA (%lu) and cHRM chunks and no sRGB or iCCP "
                                   "chunk",
                                   static_cast<unsigned long>(facts.png_gamma))
                    : finding_text("the PNG image has a gAMA of %lu, not sRGB's 45455, and no sRGB or "
                                   "iCCP chunk",
                                   static_cast<unsigned long>(facts.png_gamma)),
                "Chrome draws it blank");
}

// ---- the readers' choices -------------------------------------------------------------------

pick_entry pick_entry_of(const image_record& image, std::int64_t directory_end) {
    pick_entry e;
    const ICONDIRENTRY& entry = image.entry;
    e.width = entry_pixels(entry.bWidth);
    e.height = entry_pixels(entry.bHeight);
    e.bit_count = entry.wBitCount;
    e.color_count = entry.bColorCount;
    const image_facts& facts = image.facts;
    if (facts.kind == image_kind::png && facts.width > 0) {
        e.file_width = facts.width;
        e.file_height = facts.height;
        e.file_bits = facts.png_color_type == 6 ? 32 : 24;
        e.file_readable = true;
    } else if (facts.kind == image_kind::bitmap) {
        e.file_width = e.width;
        e.file_height = e.height;
        e.file_bits = facts.bit_count;
        e.file_readable = true;
    }
    e.in_directory = image_offset(entry) < directory_end;
    e.plain_bitmap = facts.kind == image_kind::bitmap && facts.compression == 0 && facts.header_size != 12;
    return e;
}

std::vector<pick_entry> pick_entries(const file_report& report) {
    std::vector<pick_entry> entries;
    entries.reserve(report.images.size());
    for (const image_record& image : report.images) {
        if (!image.entry_read) break;
        entries.push_back(
            pick_entry_of(image, icon_dir_entry_offset(static_cast<std::int32_t>(report.images.size()))));
    }
    return entries;
}

// What a reader shows of image `index`: the same picture as another image
// when their digests agree.
std::uint64_t picture_of(const file_report& report, std::int32_t index) {
    const image_facts& facts = report.images[static_cast<std::size_t>(index)].facts;
    return facts.decoded ? facts.digest : ~std::uint64_t{0} - static_cast<std::uint64_t>(index);
}

// The readers that show image `index` of the file, by `picks`.
reader_set showing(const reader_picks& picks, std::int32_t index) {
    reader_set readers = 0;
    for (std::size_t s = 0; s < SIZE_COUNT; ++s)
        if (picks.windows[s] == index || picks.windows_file[s] == index) readers |= WINDOWS;
    if (picks.chrome == index) readers |= CHROME;
    if (picks.firefox == index) readers |= FIREFOX;
    if (picks.gnome == index) readers |= GNOME;
    return readers;
}

// Who shows an image at a common size: each reader's image, when that
// image is of the size and the reader does not fail it.
struct shown_here {
    int reader;       // 0 to 4
    const char* how;  // "" or " (from the file)" for Windows' second choice
    std::int32_t image;
};

std::vector<shown_here> shown_at_size(const file_report& report, std::size_t s) {
    std::vector<shown_here> out;
    const std::int32_t size = COMMON_SIZES[s];
    const auto add = [&](int reader, const char* how, std::int32_t index) {
        if (index < 0) return;
        const image_record& image = report.images[static_cast<std::size_t>(index)];
        if (entry_pixels(image.entry.bWidth) != size || entry_pixels(image.entry.bHeight) != size) return;
        if ((image.facts.fails >> reader & 1) != 0) return;
        out.push_back({reader, how, index});
    };
    add(0, "", report.picks.windows[s]);
    if (report.picks.windows_file[s] != report.picks.windows[s])
        add(0, " (from a file)", report.picks.windows_file[s]);
    add(1, "", report.picks.chrome);
    add(2, "", report.picks.firefox);
    // GNOME reads no PNG image: where the others show one, it shows
    // another image for that reason alone.
    const bool png = std::any_of(out.begin(), out.end(), [&report](const shown_here& here) {
        return report.images[static_cast<std::size_t>(here.image)].facts.kind == image_kind::png;
    });
    if (!png) add(3, "", report.picks.gnome);
    return out;
}

// "Windows and Chrome show image 0, Firefox image 1".
std::string who_shows(const std::vector<std::pair<reader_set, std::int32_t>>& groups) {
    std::string out;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (g > 0) out += ", ";
        out += reader_list(groups[g].first);
        if (g == 0) {
            out += (groups[g].first & (groups[g].first - 1)) == 0 ? " shows" : " show";
        }
        out += " image " + std::to_string(groups[g].second);
    }
    return out;
}

// Images of the same width, height and depth whose pixels differ: which
// one a reader shows depends on the reader. Answers the sizes at which a
// warning was given.
std::vector<bool> check_duplicates(const file_report& report, const finding_sink& sink) {
    std::vector<bool> explained(SIZE_COUNT, false);
    std::vector<finding> out;  // one at a time: a file may have 65,534 of them
    using key = std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t>;  // w, h, depth, index
    std::vector<key> keys;
    keys.reserve(report.images.size());
    for (std::size_t i = 0; i < report.images.size(); ++i) {
        const image_record& image = report.images[i];
        if (!image.entry_read || !image.facts.decoded) continue;
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
        const std::int32_t earlier = std::get<3>(keys[first]);
        for (std::size_t k = first + 1; k <= last; ++k) {
            const std::int32_t index = std::get<3>(keys[k]);
            if (picture_of(report, index) == picture_of(report, earlier)) continue;
            const reader_set a = showing(report.picks, earlier);
            const reader_set b = showing(report.picks, index);
            const std::string problem =
                finding_text("image %ld is %ld x %ld at %ld bits like image %ld, with other pixels",
                             static_cast<long>(index), static_cast<long>(std::get<0>(keys[k])),
                             static_cast<long>(std::get<1>(keys[k])), static_cast<long>(std::get<2>(keys[k])),
                             static_cast<long>(earlier));
            if (a != 0 && b != 0) {
                add_finding(out, index, icon_dir_entry_offset(index),
                            reader_effect{0, 0, 0, static_cast<reader_set>(a | b)}, "duplicate-image",
                            problem, who_shows({{a, earlier}, {b, index}}).c_str());
                for (std::size_t s = 0; s < SIZE_COUNT; ++s)
                    if (COMMON_SIZES[s] == std::get<0>(keys[k]) && COMMON_SIZES[s] == std::get<1>(keys[k]))
                        explained[s] = true;
            } else {
                const std::string phrase =
                    a == 0 && b == 0 ? std::string("no reader shows either")
                                     : "no reader shows image " + std::to_string(a == 0 ? earlier : index);
                add_finding(out, index, icon_dir_entry_offset(index), reader_effect{}, "duplicate-image",
                            problem, phrase.c_str());
            }
            sink(out.back(), &report.images[static_cast<std::size_t>(index)]);
            out.clear();
        }
        first = last + 1;
    }
    return explained;
}

// Readers that show different pictures at one of the common sizes, where
// no duplicate explains it.
void check_choices(const file_report& report, const std::vector<bool>& explained, const finding_sink& sink) {
    std::vector<finding> out;
    for (std::size_t s = 0; s < SIZE_COUNT; ++s) {
        if (explained[s]) continue;
        const std::vector<shown_here> shown = shown_at_size(report, s);
        // The pictures, each with the readers that show it, in order of first appearance.
        std::vector<std::pair<reader_set, std::int32_t>> groups;
        std::vector<std::uint64_t> pictures;
        reader_set all = 0;
        for (const shown_here& here : shown) {
            const std::uint64_t picture = picture_of(report, here.image);
            const auto at = std::find(pictures.begin(), pictures.end(), picture);
            const auto bit = static_cast<reader_set>(1u << here.reader);
            all |= bit;
            if (at == pictures.end()) {
                pictures.push_back(picture);
                groups.emplace_back(bit, here.image);
            } else {
                groups[static_cast<std::size_t>(at - pictures.begin())].first |= bit;
            }
        }
        if (groups.size() < 2) continue;
        std::string who;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            if (g > 0) who += ", ";
            who += reader_list(groups[g].first) + " image " + std::to_string(groups[g].second);
            const image_record& image = report.images[static_cast<std::size_t>(groups[g].second)];
            if (image.facts.bit_count != 0)
                who += finding_text(" (%u bits)", unsigned{image.facts.bit_count});
        }
        // Windows' two ways of choosing may be what differs.
        for (const shown_here& here : shown)
            if (*here.how != '\0')
                who += "; Windows shows image " + std::to_string(here.image) + " from a file";
        add_finding(out, -1, -1, reader_effect{0, 0, 0, all}, "readers-disagree",
                    finding_text("at %ld x %ld the readers show different images",
                                 static_cast<long>(COMMON_SIZES[s]), static_cast<long>(COMMON_SIZES[s])),
                    who.c_str());
        sink(out.back(), nullptr);
        out.clear();
    }
}

// The readers whose choice differs between two sets of picks.
reader_set changed(const reader_picks& a, const reader_picks& b) {
    reader_set readers = 0;
    if (a.windows != b.windows || a.windows_file != b.windows_file) readers |= WINDOWS;
    if (a.chrome != b.chrome) readers |= CHROME;
    if (a.firefox != b.firefox) readers |= FIREFOX;
    if (a.gnome != b.gnome) readers |= GNOME;
    return readers;
}

// The pairs of width and height the choices that differ between two sets
// of picks are made at, before and after.
std::vector<std::pair<std::int32_t, std::int32_t>> changed_sizes(const file_report& report,
                                                                 const reader_picks& a,
                                                                 const reader_picks& b) {
    std::vector<std::pair<std::int32_t, std::int32_t>> sizes;
    const auto add = [&](std::int32_t index) {
        if (index < 0) return;
        const ICONDIRENTRY& entry = report.images[static_cast<std::size_t>(index)].entry;
        sizes.emplace_back(entry_pixels(entry.bWidth), entry_pixels(entry.bHeight));
    };
    const auto pair = [&](std::int32_t x, std::int32_t y) {
        if (x != y) add(x), add(y);
    };
    for (std::size_t s = 0; s < SIZE_COUNT; ++s) {
        pair(a.windows[s], b.windows[s]);
        pair(a.windows_file[s], b.windows_file[s]);
    }
    pair(a.chrome, b.chrome);
    pair(a.firefox, b.firefox);
    pair(a.gnome, b.gnome);
    return sizes;
}

// wBitCount and bColorCount that disagree with the image matter where the
// readers pick by them: a warning when correcting them changes a reader's
// choice (for the images of the size it changes at), a note otherwise.
void check_entry_fields(const file_report& report, const finding_sink& sink) {
    const std::vector<pick_entry> entries = pick_entries(report);
    for (const bool bits : {true, false}) {
        std::vector<pick_entry> fixed = entries;
        bool any = false;
        for (std::size_t i = 0; i < fixed.size(); ++i) {
            const image_record& image = report.images[i];
            if (bits && image.bits_differ) {
                fixed[i].bit_count = image.facts.bit_count;
                any = true;
            } else if (!bits && image.colours_differ) {
                fixed[i].color_count = image.facts.kind == image_kind::png ? 0 : image.facts.color_count;
                any = true;
            }
        }
        if (!any) continue;
        const reader_picks after = pick_images(fixed, report.id_type == 2);
        const reader_set readers = changed(report.picks, after);
        const auto sizes = changed_sizes(report, report.picks, after);
        const char* id = bits ? "entry-bit-count" : "entry-color-count";
        std::vector<finding> out;
        for (std::size_t i = 0; i < fixed.size(); ++i) {
            const image_record& image = report.images[i];
            if (!(bits ? image.bits_differ : image.colours_differ)) continue;
            const auto index = static_cast<std::int32_t>(i);
            check_entry(index, image.entry, report.id_type, image.facts, out);
            const auto made = std::find_if(out.begin(), out.end(),
                                           [id](const finding& f) { return std::strcmp(f.id, id) == 0; });
            if (made == out.end()) {
                out.clear();
                continue;
            }
            const std::pair<std::int32_t, std::int32_t> size{entry_pixels(image.entry.bWidth),
                                                             entry_pixels(image.entry.bHeight)};
            if (readers != 0 && std::find(sizes.begin(), sizes.end(), size) != sizes.end()) {
                const std::string problem = made->message.substr(0, made->message.rfind(": "));
                const std::string phrase = "correcting it changes the image " + reader_list(readers) +
                                           ((readers & (readers - 1)) == 0 ? " shows" : " show");
                std::vector<finding> raised;
                add_finding(raised, index, made->offset, reader_effect{0, 0, 0, readers}, id, problem,
                            phrase.c_str());
                sink(raised.front(), &image);
            } else {
                sink(*made, &image);
            }
            out.clear();
        }
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

// GNOME reads no PNG image of an icon file: for it, a file of PNG images
// alone holds nothing. A note, as the kind is one it never reads.
void check_png_only(const file_report& report, std::vector<finding>& out) {
    bool any = false;
    for (const image_record& image : report.images) {
        if (!image.entry_read) continue;
        if (image.facts.kind != image_kind::png) return;
        any = true;
    }
    if (!any) return;
    out.push_back(
        finding{-1, -1, severity::note, "png-only",
                "every image is a PNG image, which GNOME does not read in an icon file: GNOME shows "
                "nothing",
                reader_effect{GNOME}});
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
    report.picks = pick_images({}, false);
    ICONDIR dir{};
    if (read_icon_dir(stream, dir) != IO_OK) {
        add_finding(batch, -1, 0, NO_READER_SHOWS, "directory-truncated",
                    finding_text("the file is %lld bytes, too short for the 6-byte header",
                                 static_cast<long long>(file_size)));
        hand_on(nullptr);
        return true;
    }
    // A PNG file named .ico, say: one finding that says what it is.
    std::uint8_t head[64] = {};
    std::int32_t have = static_cast<std::int32_t>(std::min<std::int64_t>(file_size, sizeof head));
    if (stream_seek(stream, SEEK_FROM_START, 0) != IO_OK || stream_read(stream, &have, head) != IO_OK)
        return false;
    bool image = false;
    const std::string kind = not_an_icon(stream, file_size, head, static_cast<std::size_t>(have), image);
    if (!kind.empty()) {
        report.not_icon = true;
        if (image && kind.starts_with("a GIF image")) {
            // Qt, asked for an icon, was measured showing a GIF's own picture.
            add_finding(batch, -1, 0, reader_effect{WINDOWS | GNOME}, "not-an-icon",
                        kind + ", not an icon file",
                        "browsers show it as a favicon, and Qt shows it; Windows and GNOME do not");
        } else if (image) {
            add_finding(batch, -1, 0, reader_effect{WINDOWS | GNOME | QT}, "not-an-icon",
                        kind + ", not an icon file",
                        "browsers show it as a favicon; Windows, GNOME and Qt do not");
        } else {
            add_finding(batch, -1, 0, NO_READER_SHOWS, "not-an-icon", kind + ", not an icon file",
                        "no reader shows it");
        }
        hand_on(nullptr);
        return true;
    }
    if (stream_seek(stream, SEEK_FROM_START, ICONDIR_SIZE) != IO_OK) return false;
    report.id_type = dir.idType;
    check_header(dir, batch);
    const std::int64_t directory_end = icon_dir_entry_offset(dir.idCount);
    if (file_size < directory_end) {
        add_finding(
            batch, -1, file_size, NO_READER_SHOWS, "directory-truncated",
            finding_text("the file ends inside its directory: %u entries need %lld bytes, the file has "
                         "%lld",
                         unsigned{dir.idCount}, static_cast<long long>(directory_end),
                         static_cast<long long>(file_size)));
    }
    hand_on(nullptr);
    report.images.resize(dir.idCount);
    for (image_record& record : report.images) {
        if (read_icon_dir_entry(stream, record.entry) != IO_OK) break;
        record.entry_read = true;
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
        image_record& record = report.images[static_cast<std::size_t>(index)];
        const std::int64_t at = image_offset(record.entry);
        const std::int64_t end = at + image_length(record.entry);
        // An image past the end has 0 bytes in the file, not an unknown number.
        const std::int64_t available = std::max<std::int64_t>(0, file_size - at);
        check_placement(record, index, file_size, directory_end, batch);
        // An image inside the directory is the directory's bytes: its
        // examination would say nothing true, and would pass over the
        // images after it.
        const bool in_directory = at < directory_end;
        const examination_plan::step step = in_directory ? examination_plan::step::share : plan.next(at);
        if (in_directory) {
            // Reported by check_placement.
        } else if (step == examination_plan::step::inside) {
            add_finding(batch, index, at, reader_effect{}, "image-overlap",
                        finding_text("the image starts at byte %lld, inside image %ld's bytes, which run to "
                                     "%lld and were examined already; it is not examined again",
                                     static_cast<long long>(at), static_cast<long>(plan.owner()),
                                     static_cast<long long>(plan.reach() - 1)));
        } else if (end != at && owner >= 0 && at < reach) {
            add_finding(batch, index, at, reader_effect{}, "image-overlap",
                        finding_text("the image's bytes %lld to %lld overlap image %ld's, which run to %lld",
                                     static_cast<long long>(at), static_cast<long long>(end - 1),
                                     static_cast<long>(owner), static_cast<long long>(reach - 1)));
        }
        if (in_directory) {
            record.facts = image_facts{};
        } else if (step == examination_plan::step::share) {
            // The shared image's own findings were given once, for the first entry.
            record.facts = report.images[static_cast<std::size_t>(plan.last())].facts;
        } else if (step == examination_plan::step::examine) {
            record.facts = examine_image(stream, index, at, available, record.entry.dwBytesInRes, batch);
            // The bytes read: an image in a bitmap's rows, which are not, is still examined.
            plan.examined(index, at, at + record.facts.examined);
            if (options.pixels != nullptr) options.pixels(stream, index, at, available, record.facts, batch);
            check_bitmap_pixels(record, index, at, dir.idType, batch);
            refine_colour_type(record.facts, index, batch);
            check_gamma(record.facts, index, at, batch);
        }
        const std::size_t before = batch.size();
        check_entry(index, record.entry, dir.idType, record.facts, batch);
        // wBitCount and bColorCount wait for the readers' choices.
        const auto deferred = std::remove_if(batch.begin() + static_cast<std::ptrdiff_t>(before), batch.end(),
                                             [&record](const finding& f) {
                                                 if (std::strcmp(f.id, "entry-bit-count") == 0) {
                                                     record.bits_differ = true;
                                                     return true;
                                                 }
                                                 if (std::strcmp(f.id, "entry-color-count") == 0) {
                                                     record.colours_differ = true;
                                                     return true;
                                                 }
                                                 return false;
                                             });
        batch.erase(deferred, batch.end());
        for (const finding& f : batch)
            if (f.image == index) record.facts.fails |= f.effect.fails;
        const std::int64_t last =
            std::max(end != at ? end : 0,
                     step == examination_plan::step::examine ? image_end(at, record.facts, available) : 0);
        if (last > reach && !in_directory) {
            reach = last;
            owner = index;
        }
        hand_on(&record);
    }
    report.picks = pick_images(pick_entries(report), dir.idType == 2);
    const std::vector<bool> explained = check_duplicates(report, sink);
    check_choices(report, explained, sink);
    check_entry_fields(report, sink);
    check_png_only(report, batch);
    check_required(report, options, batch);
    hand_on(nullptr);
    return true;
}
