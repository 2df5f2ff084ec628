// Checks of a whole icon file: its header, its directory against the file's
// size, where the images lie (inside the directory, past the end, over each
// other), images of the same size and depth, and sizes the caller requires.
// Each image is examined through image_checks, in the order of the images'
// offsets, so a file is read front to back once, and the work is bounded by
// the file's size and its number of entries, never their product.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "icon_records.hpp"
#include "image_checks.hpp"

// Examines an image's pixels after its structure (image_pixels'
// examine_pixels, which lives with the image layer): fills the facts of its
// pixels and adds findings. Without one, the checks see structure alone.
using pixel_examiner = void (*)(std::FILE* stream, std::int32_t index, std::int64_t offset,
                                std::int64_t available, image_facts& facts, std::vector<finding>& out);

struct lint_options {
    std::vector<std::int32_t> required_sizes;  // square sizes that must be present, in pixels
    pixel_examiner pixels = nullptr;
};

// One image as the file's directory and its bytes describe it.
struct image_record {
    ICONDIRENTRY entry{};
    image_facts facts;
    bool entry_read = false;  // false when the directory ends before this entry
    // The entry's wBitCount or bColorCount disagrees with the image: reported
    // once the readers' choices are known, for what correcting it changes.
    bool bits_differ = false;
    bool colours_differ = false;
};

struct file_report {
    // In the order they are made: the header's and the directory's, then
    // each image's in the order of the images' offsets, then those about
    // the readers' choices (images of the same size and depth, readers that
    // show different images, entry fields that change a choice), then
    // required sizes. Filled only by the lint_stream that collects them.
    std::vector<finding> findings;
    std::vector<image_record> images;
    std::uint16_t id_type = 0;
    // The file is no icon or cursor file (a PNG file named .ico, say):
    // its one finding says what it is, and no reader picks from it.
    bool not_icon = false;
    reader_picks picks;  // which image each reader shows
};

// Receives each finding as it is made, with the image it is about (null for
// the file as a whole), whose facts are then final.
using finding_sink = std::function<void(const finding&, const image_record*)>;

// Lints the open `stream` from its start, handing each finding to `sink` as
// soon as its image is examined, so that memory does not grow with the
// findings. Answers false when the stream cannot be positioned or its size
// told; a file that merely ends early is reported through findings.
bool lint_stream(std::FILE* stream, const lint_options& options, file_report& report,
                 const finding_sink& sink);

// The same, collecting the findings in report.findings.
bool lint_stream(std::FILE* stream, const lint_options& options, file_report& report);

// True when any finding is an error.
bool has_error(const std::vector<finding>& findings);

// Where the bytes of an image examined at `offset` end: as far as its
// examination read, or as far as its own size says (a bitmap's rows are not
// read), within the `available` bytes of the file.
std::int64_t image_end(std::int64_t offset, const image_facts& facts, std::int64_t available);

// Keeps the examination of one file's images within the file's size. Given
// the images in the order of their offsets, it answers for each whether to
// examine it, to share the examination of the image before it at the same
// offset, or to leave it: an image that starts inside bytes already
// examined is not read again.
class examination_plan {
   public:
    enum class step { examine, share, inside };

    // What to do with the next image, which starts at `offset`.
    step next(std::int64_t offset) const;
    // Records the examination of image `index` at `offset`, whose bytes were
    // read (or, for a copy, will be) up to `end`.
    void examined(std::int32_t index, std::int64_t offset, std::int64_t end);
    // The image last examined (for share), or the one whose bytes reach
    // furthest (for inside), and where those bytes end.
    std::int32_t last() const { return last_index_; }
    std::int32_t owner() const { return owner_; }
    std::int64_t reach() const { return reach_; }

   private:
    std::int64_t last_offset_ = -1;
    std::int32_t last_index_ = -1;
    std::int64_t reach_ = 0;
    std::int32_t owner_ = -1;
};
