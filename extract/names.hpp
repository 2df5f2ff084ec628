// The file names icon-extract makes for what it writes.
//
// A file written is named from its input and what it holds:
//   <stem>-<image>-<width>x<height>-<bits>.png   an image of an icon or cursor file
//   <stem>-<group>.ico, <stem>-<group>.cur       an icon or cursor group of a PE file
//   <stem>-<group>-<image>-<width>x<height>-<bits>.png
//                                                an image of such a group (--png)
// where <stem> is the input's file name without its last extension, <image>
// the image's index in its directory, <group> the group's id or name, and
// width, height and bits are the image's own. A name already given in the
// run (letter case aside, as Windows and macOS compare names) gets "~2",
// "~3"... before its extension, so no run writes two files of one name.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

// The input's file name without its folder and last extension: "app" for
// "icons/app.ico"; a name that starts with its only dot is kept whole.
std::string input_stem(const char* path);

// A resource's name as part of a file name: ASCII letters, digits, '.', '_'
// and '-' kept, every other byte '_', at most 64 bytes.
std::string name_part(std::string_view name);

// "<stem>-<index>-<width>x<height>-<bits>", the base of an image's PNG file.
std::string image_base(const std::string& stem, std::int32_t index, std::int32_t width, std::int32_t height,
                       std::uint16_t bits);

// The names given in one run.
class name_register {
   public:
    // `base` + `extension`, or with the first "~N" that makes it new.
    std::string unique(const std::string& base, const std::string& extension);

   private:
    std::set<std::string> given_;                  // lower-case
    std::map<std::string, unsigned> next_suffix_;  // lower-case base + extension
};
