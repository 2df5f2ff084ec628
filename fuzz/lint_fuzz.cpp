// icon-lint's checks, pixels included, over one arbitrary file: they must end, stay within the
// file's directory, give the same findings twice, in the order they are made
// in, and lay every finding out as one text line and one JSON object.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "file_checks.hpp"
#include "fuzz_support.hpp"
#include "image_pixels.hpp"
#include "lint_icons.hpp"

using fuzz::bytes;

namespace {

file_report lint_bytes(bytes& data) {
    file_report report;
    std::FILE* in = fuzz::open_bytes(data);
    fuzz::check(lint_stream(in, {{16, 32}, examine_pixels}, report),
                "lint_stream answers false on a seekable stream");
    std::fclose(in);
    return report;
}

std::size_t lines_in(const std::string& text) {
    std::size_t lines = 0;
    for (const char c : text) lines += c == '\n' ? 1 : 0;
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
    bytes data(raw, raw + size);
    fuzz::bound_icon_count(data);
    const file_report report = lint_bytes(data);
    const std::int32_t count = size >= 6 ? fuzz::le16(data.data() + 4) : 0;
    fuzz::check(size >= 6 || (report.findings.size() == 1 &&
                              std::string(report.findings[0].id) == "directory-truncated"),
                "a file shorter than its header gives directory-truncated alone");
    // The order they are made in: the file's, then each image's together,
    // then those about the readers' choices, then png-only, then required
    // sizes.
    int phase = 0;
    std::int32_t current = -1;
    std::vector<bool> done(static_cast<std::size_t>(count), false);
    for (const finding& f : report.findings) {
        fuzz::check(f.image >= -1 && f.image < count, "a finding's image is outside the directory");
        const std::string id = f.id;
        const bool choice = id == "duplicate-image" || id == "readers-disagree" || id == "entry-bit-count" ||
                            id == "entry-color-count";
        const int now = id == "required-size" ? 4 : id == "png-only" ? 3 : choice ? 2 : f.image >= 0 ? 1 : 0;
        fuzz::check(now >= phase, "findings are not in the order they are made in");
        if (now == 1 && f.image != current) {
            fuzz::check(!done[static_cast<std::size_t>(f.image)], "an image's findings are not together");
            if (current >= 0) done[static_cast<std::size_t>(current)] = true;
            current = f.image;
        }
        phase = now;
        fuzz::check(f.offset >= -1, "a finding's offset is below -1");
        fuzz::check(f.id != nullptr && *f.id != '\0', "a finding has no check id");
        fuzz::check(!f.message.empty() && f.message.find('\n') == std::string::npos,
                    "a message is empty or spans lines");
    }
    const file_report again = lint_bytes(data);
    fuzz::check(again.findings.size() == report.findings.size(), "a second run gives other findings");
    const std::string text = format_report("in.ico", report, output_format::text);
    const std::string json = format_report("in.ico", report, output_format::json);
    fuzz::check(text == format_report("in.ico", again, output_format::text),
                "a second run gives other lines");
    fuzz::check(lines_in(text) == report.findings.size(), "text lines differ from the findings");
    fuzz::check(lines_in(json) == report.findings.size(), "JSON lines differ from the findings");
    for (std::size_t at = 0; at < json.size(); at = json.find('\n', at) + 1) {
        fuzz::check(json.compare(at, 9, "{\"path\":\"") == 0, "a JSON line does not start with its path");
    }
    return 0;
}
