// Which image each reader shows, on the layouts whose choices were measured
// (Wine's LookupIconIdFromDirectoryEx and LoadImageW at each size, the
// browsers, GdkPixbuf and Qt on the whole file), and the severity a
// reader's effect gives.
#include "reader_model.hpp"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

// A bitmap whose entry says `bits` and `colours`, of `own_bits` in fact.
pick_entry bitmap(std::int32_t side, std::uint16_t bits, std::uint8_t colours, std::uint16_t own_bits) {
    return {side, side, bits, colours, side, side, own_bits, true, true, false};
}
pick_entry bitmap(std::int32_t side, std::uint16_t bits, std::uint8_t colours = 0) {
    return bitmap(side, bits, colours, bits);
}
pick_entry png(std::int32_t side) { return {side, side, 32, 0, side, side, 32, true, false, false}; }

using sizes = std::array<std::int32_t, SIZE_COUNT>;  // 16, 24, 32, 48, 64, 256
constexpr std::int32_t ANY = -2;                     // measured as other pixels than any one image

struct pick_row {
    const char* name;
    std::vector<pick_entry> entries;
    bool cursor;
    sizes windows;       // LookupIconIdFromDirectoryEx, or LoadImageW for a cursor
    sizes windows_file;  // LoadImageW
    std::int32_t chrome, firefox, gnome, qt;
};

TEST(ReaderModel, PicksAsMeasured) {
    const sizes all_0 = {0, 0, 0, 0, 0, 0};
    const sizes all_1 = {1, 1, 1, 1, 1, 1};
    const sizes all_2 = {2, 2, 2, 2, 2, 2};
    const std::vector<pick_row> rows = {
        {"two 16 x 16 32-bit images", {bitmap(16, 32), bitmap(16, 32)}, false, all_0, all_0, 0, 1, 1, 0},
        {"8 then 32 bits", {bitmap(32, 8), bitmap(32, 32)}, false, all_1, all_1, 1, 1, 1, 0},
        {"32 then 8 bits", {bitmap(32, 32), bitmap(32, 8)}, false, all_0, all_0, 0, 0, 1, 0},
        {"4, 8 and 32 bits",
         {bitmap(32, 4, 16), bitmap(32, 8), bitmap(32, 32)},
         false,
         all_2,
         all_2,
         2,
         2,
         2,
         0},
        {"the usual sizes, ascending",
         {bitmap(16, 32), bitmap(24, 32), bitmap(32, 32), bitmap(48, 32), bitmap(64, 32), png(256)},
         false,
         {0, 1, 2, 3, 4, 5},
         {0, 1, 2, 3, 4, 5},
         5,
         5,
         ANY,
         0},
        {"the usual sizes, descending",
         {png(256), bitmap(64, 32), bitmap(48, 32), bitmap(32, 32), bitmap(24, 32), bitmap(16, 32)},
         false,
         {5, 4, 3, 2, 1, 0},
         {5, 4, 3, 2, 1, 0},
         0,
         0,
         1,
         0},
        // wBitCount 0 on both: the entries alone tie, the images do not.
        {"wBitCount 0 twice", {bitmap(32, 0, 0, 8), bitmap(32, 0, 0, 32)}, false, all_0, all_1, 0, 1, 1, 0},
        // A cursor's wBitCount is its hotspot's y.
        {"cursor: 1 then 32 bits",
         {bitmap(32, 0, 2, 1), bitmap(32, 0, 0, 32)},
         true,
         all_1,
         all_1,
         1,
         1,
         1,
         0},
        {"cursor: 32 then 1 bits",
         {bitmap(32, 0, 0, 32), bitmap(32, 0, 2, 1)},
         true,
         all_0,
         all_0,
         0,
         1,
         0,
         0},
    };
    for (const pick_row& r : rows) {
        const reader_picks picks = pick_images(r.entries, r.cursor);
        EXPECT_EQ(picks.windows, r.windows) << r.name;
        EXPECT_EQ(picks.windows_file, r.windows_file) << r.name;
        EXPECT_EQ(picks.chrome, r.chrome) << r.name;
        EXPECT_EQ(picks.firefox, r.firefox) << r.name;
        if (r.gnome != ANY) {
            EXPECT_EQ(picks.gnome, r.gnome) << r.name;
        }
        EXPECT_EQ(picks.qt, r.qt) << r.name;
    }
}

TEST(ReaderModel, SeverityFollowsTheReaders) {
    struct row {
        reader_effect effect;
        severity level;
        const char* phrase;
    };
    const std::vector<row> rows = {
        {{}, severity::note, "no reader is affected"},
        {{CHROME}, severity::error, "Chrome fails it"},
        {{0, WINDOWS}, severity::error, "Windows shows another picture"},
        {{QT}, severity::warning, "Qt fails it"},
        {{GNOME | QT}, severity::warning, "GNOME and Qt fail it"},
        {{0, 0, WINDOWS}, severity::warning, "Windows shows other pixels"},
        {{0, 0, 0, CHROME | FIREFOX}, severity::warning, "Chrome and Firefox choose differently"},
        {{WINDOWS | CHROME | FIREFOX, 0, 0, 0}, severity::error, "Windows, Chrome and Firefox fail it"},
        {{QT, FIREFOX}, severity::error, "Qt fails it; Firefox shows another picture"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(severity_of(r.effect), r.level) << r.phrase;
        EXPECT_EQ(effect_phrase(r.effect), r.phrase);
    }
}

}  // namespace
