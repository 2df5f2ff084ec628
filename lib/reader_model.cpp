#include "reader_model.hpp"

#include <cstdlib>
#include <limits>

namespace {

constexpr const char* NAMES[READER_COUNT] = {"Windows", "Chrome", "Firefox", "GNOME", "Qt"};
constexpr const char* KEYS[READER_COUNT] = {"windows", "chrome", "firefox", "gnome", "qt"};

// The colour depth Windows asks for: a 32-bit screen.
constexpr std::int32_t SCREEN_BITS = 32;

int count_of(reader_set readers) {
    int n = 0;
    for (int r = 0; r < READER_COUNT; ++r) n += (readers >> r) & 1;
    return n;
}

// "X fails it" / "X and Y fail it".
void add_clause(std::string& out, reader_set readers, const char* one, const char* many) {
    if (readers == 0) return;
    if (!out.empty()) out += "; ";
    out += reader_list(readers);
    out += count_of(readers) == 1 ? one : many;
}

// Windows' choice among icons (LookupIconIdFromDirectoryEx and LoadImageW):
// the entry nearest the size, counting width and height apart, then the
// depth nearest the screen's; the first on a tie. `bits` gives each entry's
// depth and answers false for an entry whose image can't be read, which
// ends the search there.
template <typename Size, typename Bits>
std::int32_t windows_icon(std::size_t count, std::int32_t want, Size size, Bits bits) {
    std::uint32_t total = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t dx = 0;
    std::uint32_t dy = 0;
    std::size_t usable = 0;
    for (; usable < count; ++usable) {
        std::int32_t w = 0;
        std::int32_t h = 0;
        std::int32_t depth = 0;
        if (!bits(usable, depth)) break;
        size(usable, w, h);
        const auto x = static_cast<std::uint32_t>(std::abs(want - w));
        const auto y = static_cast<std::uint32_t>(std::abs(want - h));
        if (total > x + y) {
            dx = x;
            dy = y;
            total = x + y;
        }
    }
    std::int32_t best = -1;
    std::uint32_t colour = std::numeric_limits<std::uint32_t>::max();
    for (std::size_t i = 0; i < usable; ++i) {
        std::int32_t w = 0;
        std::int32_t h = 0;
        std::int32_t depth = 0;
        bits(i, depth);
        size(i, w, h);
        if (static_cast<std::uint32_t>(std::abs(want - w)) != dx ||
            static_cast<std::uint32_t>(std::abs(want - h)) != dy)
            continue;
        const auto diff = static_cast<std::uint32_t>(std::abs(SCREEN_BITS - depth));
        if (colour > diff) {
            best = static_cast<std::int32_t>(i);
            colour = diff;
        }
    }
    return best;
}

// Windows' choice of a cursor (LoadImageW): the largest no larger than the
// size, else the smallest larger; the deeper on a tie of sizes, the first
// on a tie of both.
std::int32_t windows_cursor(const std::vector<pick_entry>& entries, std::int32_t want) {
    std::size_t usable = 0;
    while (usable < entries.size() && entries[usable].file_readable) ++usable;
    std::int32_t best = -1;
    std::int32_t max_w = 0;
    std::int32_t max_h = 0;
    std::int32_t max_bits = 0;
    for (std::size_t i = 0; i < usable; ++i) {
        const pick_entry& e = entries[i];
        if (e.width > want || e.height > want) continue;
        if (e.width < max_w || e.height < max_h) continue;
        if (e.width == max_w && e.height == max_h && e.file_bits <= max_bits) continue;
        best = static_cast<std::int32_t>(i);
        max_w = e.width;
        max_h = e.height;
        max_bits = e.file_bits;
    }
    if (best >= 0) return best;
    max_w = max_h = 255;
    for (std::size_t i = 0; i < usable; ++i) {
        const pick_entry& e = entries[i];
        if (e.width > max_w || e.height > max_h) continue;
        if (e.width == max_w && e.height == max_h && e.file_bits <= max_bits) continue;
        best = static_cast<std::int32_t>(i);
        max_w = e.width;
        max_h = e.height;
        max_bits = e.file_bits;
    }
    return best < 0 && usable > 0 ? 0 : best;
}

// Chrome: the largest area, then the most bits, the first on a tie. Its
// bits are wBitCount, or where that is 0 (and always in a cursor) the
// fewest that hold bColorCount colours (0 counting as 256).
std::int32_t chrome_pick(const std::vector<pick_entry>& entries, bool cursor) {
    std::int32_t best = -1;
    std::int64_t best_area = -1;
    std::int32_t best_bits = -1;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const pick_entry& e = entries[i];
        if (e.in_directory) return -1;
        std::int32_t bits = cursor ? 0 : e.bit_count;
        if (bits == 0) {
            for (std::int32_t colours = (e.color_count == 0 ? 256 : e.color_count) - 1; colours != 0;
                 colours >>= 1)
                ++bits;
        }
        const std::int64_t area = std::int64_t{e.width} * e.height;
        if (area > best_area || (area == best_area && bits > best_bits)) {
            best = static_cast<std::int32_t>(i);
            best_area = area;
            best_bits = bits;
        }
    }
    return best;
}

// Firefox: an entry replaces the one chosen so far when its wBitCount and
// its area are both at least as large, so the later wins a tie.
std::int32_t firefox_pick(const std::vector<pick_entry>& entries) {
    std::int32_t best = -1;
    std::int64_t best_area = 0;
    std::int32_t best_bits = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const pick_entry& e = entries[i];
        const std::int64_t area = std::int64_t{e.width} * e.height;
        if (!e.in_directory && e.bit_count >= best_bits && area >= best_area) {
            best = static_cast<std::int32_t>(i);
            best_area = area;
            best_bits = e.bit_count;
        }
    }
    return best;
}

// GNOME: the highest width x height x depth, its depth read from
// bColorCount (0 as 32 bits, up to 2 as 1, up to 16 as 4, more as 8), the
// later on a tie, skipping images that are not plain bitmaps.
std::int32_t gnome_pick(const std::vector<pick_entry>& entries) {
    std::int32_t best = -1;
    std::int64_t best_score = -1;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const pick_entry& e = entries[i];
        if (!e.plain_bitmap) continue;
        const std::int32_t c = e.color_count;
        const std::int64_t depth = c == 0 ? 32 : c <= 2 ? 1 : c <= 16 ? 4 : 8;
        const std::int64_t score = std::int64_t{e.width} * e.height * depth;
        if (score >= best_score) {
            best = static_cast<std::int32_t>(i);
            best_score = score;
        }
    }
    return best;
}

}  // namespace

const char* severity_name(severity level) {
    switch (level) {
        case severity::error: return "error";
        case severity::warning: return "warning";
        case severity::note: return "note";
    }
    return "error";
}

const char* reader_name(int reader) { return reader >= 0 && reader < READER_COUNT ? NAMES[reader] : "?"; }
const char* reader_key(int reader) { return reader >= 0 && reader < READER_COUNT ? KEYS[reader] : "?"; }

std::string reader_list(reader_set readers) {
    std::string out;
    const int total = count_of(readers);
    int seen = 0;
    for (int r = 0; r < READER_COUNT; ++r) {
        if (((readers >> r) & 1) == 0) continue;
        if (seen > 0) out += seen + 1 == total ? " and " : ", ";
        out += NAMES[r];
        ++seen;
    }
    return out;
}

reader_set readers_of(const reader_effect& effect) {
    return static_cast<reader_set>(effect.fails | effect.wrong | effect.differs | effect.choose);
}

severity severity_of(const reader_effect& effect) {
    const reader_set broken = effect.fails | effect.wrong;
    if ((broken & MAJOR_READERS) != 0) return severity::error;
    if (broken != 0 || effect.differs != 0 || effect.choose != 0) return severity::warning;
    return severity::note;
}

std::string effect_phrase(const reader_effect& effect) {
    std::string out;
    add_clause(out, effect.fails, " fails it", " fail it");
    add_clause(out, effect.wrong, " shows another picture", " show another picture");
    add_clause(out, effect.differs, " shows other pixels", " show other pixels");
    add_clause(out, effect.choose, " choose differently", " choose differently");
    return out.empty() ? "no reader is affected" : out;
}

reader_picks pick_images(const std::vector<pick_entry>& entries, bool cursor) {
    reader_picks picks;
    for (std::size_t s = 0; s < SIZE_COUNT; ++s) {
        const std::int32_t want = COMMON_SIZES[s];
        if (cursor) {
            picks.windows[s] = picks.windows_file[s] = windows_cursor(entries, want);
            continue;
        }
        picks.windows[s] = windows_icon(
            entries.size(), want,
            [&](std::size_t i, std::int32_t& w, std::int32_t& h) {
                w = entries[i].width;
                h = entries[i].height;
            },
            [&](std::size_t i, std::int32_t& bits) {
                bits = entries[i].bit_count;
                return true;
            });
        picks.windows_file[s] = windows_icon(
            entries.size(), want,
            [&](std::size_t i, std::int32_t& w, std::int32_t& h) {
                w = entries[i].file_width;
                h = entries[i].file_height;
            },
            [&](std::size_t i, std::int32_t& bits) {
                bits = entries[i].file_bits;
                return entries[i].file_readable;
            });
    }
    picks.chrome = chrome_pick(entries, cursor);
    picks.firefox = firefox_pick(entries);
    picks.gnome = gnome_pick(entries);
    picks.qt = entries.empty() ? -1 : 0;
    return picks;
}

std::int32_t shown_at(const reader_picks& picks, int reader, std::size_t size_index) {
    switch (reader) {
        case 0: return size_index < SIZE_COUNT ? picks.windows[size_index] : -1;
        case 1: return picks.chrome;
        case 2: return picks.firefox;
        case 3: return picks.gnome;
        case 4: return picks.qt;
        default: return -1;
    }
}
