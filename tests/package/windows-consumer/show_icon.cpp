// Checks this program's own icon resource 1 as Windows uses it: for each
// size an application icon is shown at, the image that Windows picks from
// the icon's directory must have that size, and so must the icon that
// LoadImageW() makes at that size. One line a size on standard output; the
// exit status is 1 when anything differs or fails.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

std::uint32_t big_endian_32(const unsigned char* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

std::int32_t little_endian_32(const unsigned char* p) {
    return static_cast<std::int32_t>(std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                     std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
}

// An icon image's width and height: a PNG stream's from its IHDR chunk, a
// bitmap's from its header, whose height counts the mask as well.
bool image_size(const unsigned char* data, DWORD bytes, long& width, long& height) {
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (bytes >= 24 && std::memcmp(data, png, sizeof png) == 0) {
        width = static_cast<long>(big_endian_32(data + 16));
        height = static_cast<long>(big_endian_32(data + 20));
        return true;
    }
    if (bytes >= 40) {
        width = little_endian_32(data + 4);
        height = little_endian_32(data + 8) / 2;
        return true;
    }
    return false;
}

// The size of the image Windows picks from icon resource 1 for `size`.
bool picked_image(HMODULE self, int size, long& width, long& height) {
    HRSRC group = FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    HGLOBAL group_data = group != nullptr ? LoadResource(self, group) : nullptr;
    auto* directory = static_cast<BYTE*>(group_data != nullptr ? LockResource(group_data) : nullptr);
    if (directory == nullptr) return false;
    const int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
    HRSRC image =
        id != 0 ? FindResourceW(self, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3)) : nullptr;  // RT_ICON
    HGLOBAL image_data = image != nullptr ? LoadResource(self, image) : nullptr;
    const void* bytes = image_data != nullptr ? LockResource(image_data) : nullptr;
    return bytes != nullptr &&
           image_size(static_cast<const unsigned char*>(bytes), SizeofResource(self, image), width, height);
}

// The size of the icon LoadImageW() makes of icon resource 1 at `size`.
bool loaded_icon(HMODULE self, int size, long& width, long& height) {
    auto icon =
        static_cast<HICON>(LoadImageW(self, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    if (icon == nullptr) return false;
    ICONINFO info{};
    BITMAP bitmap{};
    const bool known = GetIconInfo(icon, &info) != FALSE && info.hbmColor != nullptr &&
                       GetObjectW(info.hbmColor, sizeof bitmap, &bitmap) == static_cast<int>(sizeof bitmap);
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    DestroyIcon(icon);
    width = bitmap.bmWidth;
    height = bitmap.bmHeight;
    return known;
}

}  // namespace

int main() {
    HMODULE self = GetModuleHandleW(nullptr);
    const int sizes[] = {16, 20, 24, 32, 40, 48, 64, 256};
    int status = 0;
    for (const int size : sizes) {
        long image_width = 0, image_height = 0, icon_width = 0, icon_height = 0;
        if (!picked_image(self, size, image_width, image_height)) {
            std::printf("%d: no image of icon resource 1 found\n", size);
            status = 1;
        } else if (!loaded_icon(self, size, icon_width, icon_height)) {
            std::printf("%d: LoadImageW failed (error %lu)\n", size, GetLastError());
            status = 1;
        } else {
            std::printf("%d: image %ld x %ld, icon %ld x %ld\n", size, image_width, image_height, icon_width,
                        icon_height);
            if (image_width != size || image_height != size || icon_width != size || icon_height != size)
                status = 1;
        }
    }
    return status;
}
