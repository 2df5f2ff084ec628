#include "command_line.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bundle_icons.hpp"
#include "platform.hpp"
#include "report.hpp"
#include "stream_io.hpp"

namespace {

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

    // Created, or emptied, before any input is read.
    owned_stream output{std::fopen(argv[option + 1], "wb")};
    if (!output) {
        report_open_failure(errno);
        report_error("can't create output file");
        return 1;
    }
    // Bundle bytes and console lines written to one file would overwrite
    // each other.
    if (same_file(output.get(), stdout)) {
        report_error("output file is also standard output");
        return 1;
    }
    if (same_file(output.get(), stderr)) {
        report_error("output file is also standard error");
        return 1;
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
