#include "windows_icon_loader.hpp"

#include <windows.h>

namespace {

std::uint32_t u32_at(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
}

}  // namespace

windows_icon load_in_windows(const std::vector<std::uint8_t>& icon, int side) {
    windows_icon shown;
    if (icon.size() < 6) return shown.error = "no directory", shown;
    const std::vector<std::uint8_t>& file = icon;
    const std::size_t count = file[4] | file[5] << 8;
    if (file.size() < 6 + count * 16) return shown.error = "directory cut", shown;
    // The lookup reads a directory as a program's resources hold it: each
    // entry two bytes shorter, the resource's number in place of the offset.
    std::vector<std::uint8_t> group(file.begin(), file.begin() + 6);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = file.data() + 6 + i * 16;
        group.insert(group.end(), e, e + 12);
        group.insert(group.end(),
                     {static_cast<std::uint8_t>(i + 1), static_cast<std::uint8_t>((i + 1) >> 8)});
    }
    const int id = LookupIconIdFromDirectoryEx(group.data(), TRUE, side, side, LR_DEFAULTCOLOR);
    if (id < 1 || static_cast<std::size_t>(id) > count) return shown.error = "no entry picked", shown;
    const std::uint8_t* entry = file.data() + 6 + (id - 1) * 16;
    shown.picked_side = entry[0] == 0 ? 256 : entry[0];
    const std::uint32_t size = u32_at(entry + 8);
    const std::uint32_t offset = u32_at(entry + 12);
    if (offset > file.size() || size > file.size() - offset) return shown.error = "entry past the end", shown;
    std::vector<std::uint8_t> image(file.begin() + offset, file.begin() + offset + size);
    HICON loaded = CreateIconFromResourceEx(image.data(), size, TRUE, 0x00030000, side, side, 0);
    if (loaded == nullptr) return shown.error = "CreateIconFromResourceEx failed", shown;
    ICONINFO info{};
    if (GetIconInfo(loaded, &info)) {
        BITMAP shape{};
        if (info.hbmColor != nullptr && GetObjectW(info.hbmColor, sizeof shape, &shape) != 0) {
            shown.width = shape.bmWidth;
            shown.height = shape.bmHeight;
            BITMAPINFO rows{};
            rows.bmiHeader.biSize = sizeof rows.bmiHeader;
            rows.bmiHeader.biWidth = shape.bmWidth;
            rows.bmiHeader.biHeight = -shape.bmHeight;  // top row first
            rows.bmiHeader.biPlanes = 1;
            rows.bmiHeader.biBitCount = 32;
            rows.bmiHeader.biCompression = BI_RGB;
            std::vector<std::uint8_t> bgra(static_cast<std::size_t>(shape.bmWidth) * shape.bmHeight * 4);
            HDC screen = GetDC(nullptr);
            if (GetDIBits(screen, info.hbmColor, 0, shape.bmHeight, bgra.data(), &rows, DIB_RGB_COLORS) !=
                shape.bmHeight)
                shown.error = "GetDIBits failed";
            ReleaseDC(nullptr, screen);
            for (std::size_t i = 0; i + 3 < bgra.size(); i += 4)
                shown.rgba.insert(shown.rgba.end(), {bgra[i + 2], bgra[i + 1], bgra[i], bgra[i + 3]});
        } else {
            shown.error = "no colour bitmap";
        }
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
    } else {
        shown.error = "GetIconInfo failed";
    }
    DestroyIcon(loaded);
    return shown;
}
