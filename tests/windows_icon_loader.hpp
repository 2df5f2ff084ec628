// Windows' own icon loader over the bytes of an icon file, for the tests of
// a Windows build (run under Wine on other hosts). Kept apart from the
// records: <windows.h> defines names of the same spelling.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct windows_icon {
    std::string error;    // empty when the image loaded
    int picked_side = 0;  // the side in the entry the lookup picked
    int width = 0;        // of the icon loaded from that image
    int height = 0;
    std::vector<std::uint8_t> rgba;  // its pixels, top row first
};

// The entry LookupIconIdFromDirectoryEx picks for `side`, loaded by
// CreateIconFromResourceEx at that size, and its colour bitmap read back.
windows_icon load_in_windows(const std::vector<std::uint8_t>& icon, int side);
