#include "command_line.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bundle_icons.hpp"
#include "platform.hpp"
#include "report.hpp"
#include "stream_io.hpp"

namespace {

// Bundle bytes and console lines written to one file would overwrite each
// other.
struct standard_stream {
    std::FILE* stream;
    const char* is_it;    // the refusal when the output is its file
    const char* unknown;  // the refusal when that cannot be told
};
const standard_stream standard_streams[] = {
    {stdout, "output file is also standard output", "can't tell whether the output file is standard output"},
    {stderr, "output file is also standard error", "can't tell whether the output file is standard error"},
};

bool refused_as(const standard_stream& s, file_match match) {
    if (match == file_match::different) return false;
    report_error(match == file_match::same ? s.is_it : s.unknown);
    return true;
}

// An existing output that is a standard stream's file or one of the inputs
// is refused before it is opened, since opening it empties it: a log that
// standard output appends to, or an icon that was to gain images, stays as
// it was.
bool output_is_refused(int argc, char** argv, int option) {
    const char* const output = argv[option + 1];
    file_identity target;
    if (!identify_file(output, target)) return false;
    for (const standard_stream& s : standard_streams) {
        if (refused_as(s, path_matches_stream(output, s.stream))) return true;
    }
    for (int i = 1; i < argc; ++i) {
        if (i == option || i == option + 1) continue;
        file_identity input;
        if (identify_file(argv[i], input) && input == target) {
            report_error("output file is also an input file");
            return true;
        }
    }
    return false;
}

int bundle_command_line(int argc, char** argv) {
    program_argv = argv;
    const char* program = argc > 0 ? argv[0] : "icon-bundler";
    if (argc <= 3) {
        report_usage(program, "too few parameters");
        return 1;
    }
    // The "-o" nearest the end wins; the last argument cannot be one, since a
    // path must follow it.
    int option = 0;
    for (int i = argc - 2; i >= 1; --i) {
        if (std::strcmp(argv[i], "-o") == 0) {
            option = i;
            break;
        }
    }
    if (option == 0) {
        report_usage(program, "no output file specified");
        return 1;
    }

    const char* const output_path = argv[option + 1];
    if (output_is_refused(argc, argv, option)) return 1;
    // Created, or emptied, before any input is read.
    owned_stream output{std::fopen(output_path, "wb")};
    if (!output) {
        report_open_failure(errno);
        report_error("can't create output file");
        return 1;
    }
    // A path that named nothing before the open may still be a standard
    // stream's file, through a name such as /dev/stdout.
    for (const standard_stream& s : standard_streams) {
        if (refused_as(s, same_file(output.get(), s.stream))) return 1;
    }

    for (int i = option + 2; i < argc; ++i) argv[i - 2] = argv[i];
    const int bundled = bundle_icons(argc - 3, output.get());

    // A close that cannot write out the buffered bytes loses the output.
    // They are flushed and checked here rather than left to the close: C
    // runtimes differ in whether fclose reports a failed flush, and in
    // whether it reports again an error the stream met (and the run
    // reported) earlier.
    std::FILE* const closing = output.release();
    const bool flushed = std::fflush(closing) == 0;
    std::clearerr(closing);
    if (stream_close(closing) != IO_OK || !flushed) {
        report_error("can't close output file");
        return 1;
    }
    return bundled != 0 ? 0 : 1;
}

}  // namespace

int bundler_main(int argc, char** argv) {
    if (!secure_standard_streams()) return 1;
    return finish_standard_output(bundle_command_line(argc, argv));
}
