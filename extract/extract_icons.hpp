// Taking icons apart: every image of an icon or cursor file as a PNG file,
// and every icon or cursor group of a Windows program or library (a PE
// file) as an icon or cursor file, or with --png its images as PNG files.
//
// An input is read once from its start. An icon or cursor file goes
// through icon-lint's checks: an image with an error is skipped with it,
// the others are written. A PNG image is written byte for byte up to the
// end of its IEND chunk; a bitmap image is converted (bitmap_png.hpp). A
// PE file's groups are found by the resource walk (pe_resources.hpp); an
// icon group becomes an icon file whose images are the icon resources'
// bytes, in the group's order, behind a directory of the group's entries,
// each nID replaced by the image's offset. A cursor group likewise, each
// entry made from its image with the hotspot its resource starts with.
//
// Each file is written beside its final path and renamed over it once
// complete; an existing file is replaced only with `force`, and never one
// of the inputs or the file a standard stream goes to.
#pragma once

#include <vector>

enum class listing_format { text, json };

struct extract_request {
    const char* directory = nullptr;  // where the files go; null: the current folder
    bool force = false;               // existing files are replaced
    bool png = false;                 // a PE file's groups as PNG files, one an image
    listing_format format = listing_format::text;
    std::vector<const char*> inputs;
};

// The whole run after the command line: answers 0 when every image and
// group was written, 1 when any error was reported. Each file written is
// listed on standard output as it is written; problems go to standard
// error as "PATH: [WHERE: ]severity: message [id]", WHERE an image
// ("image N"), a group ("icon group NAME") or both.
int extract_icons(const extract_request& request);
