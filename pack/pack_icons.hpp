// Packing PNG files and the images of icon or cursor files into one new
// icon or cursor file, every image's bytes unchanged.
//
// The scan reads each input once: a PNG file is one image; an icon or cursor
// file gives each image of its directory. Every image is examined by the
// image checks, and its new directory entry is made from what its own bytes
// say, never copied. Any error ends the run before anything is written.
// The images are then ordered (largest first, then deeper), an image with
// the size and depth of an earlier one is skipped, and the output is
// written beside its final path and renamed over it once complete, so a
// failed run leaves an existing output as it was.
#pragma once

#include <vector>

struct pack_request {
    const char* output = nullptr;
    std::vector<const char*> inputs;
    bool keep_order = false;  // the images in the order given
    bool quiet = false;       // no listing on standard output
};

// The whole run after the command line: answers 0 when the output was
// written completely, else 1. Problems go to standard error as
// "PATH: severity: message [id]", or "PATH: image N: ..." for one image of
// an icon file; the images written are listed on standard output unless
// quiet.
int pack_icons(const pack_request& request);
