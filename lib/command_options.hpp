// Command-line options in the GNU style that icon-pack and icon-extract
// share: one short option that takes a value (-o FILE or -oFILE), long
// options by their name or by a prefix that only one of them has
// (--output=FILE or --output FILE, --out), "--" ending the options, and "-"
// an operand like any argument that does not start with "-".
#pragma once

#include <span>
#include <string>
#include <string_view>

struct long_option_spec {
    std::string_view name;  // without its "--"
    int id;
    bool takes_value;
};

// The id of an operand: an argument that is no option.
inline constexpr int OPERAND = -1;

struct command_argument {
    int id = OPERAND;             // the option's id, or OPERAND
    const char* value = nullptr;  // the option's value, or the operand
};

// Reads the arguments one at a time, so that a program can refuse a value
// before a later argument is read.
class option_reader {
   public:
    // `short_name` is the short option, the same as the long option
    // `short_id`; `options` must outlive the reader.
    option_reader(int argc, char** argv, char short_name, int short_id,
                  std::span<const long_option_spec> options);

    // The next argument into `out`; false at the end, or at an argument that
    // cannot be used, which error() then describes.
    bool next(command_argument& out);

    // The usage error that stopped the reading, e.g. "unrecognized option
    // '--x'" or "option '--output' requires an argument"; empty when none.
    const std::string& error() const { return error_; }

   private:
    const char* following() { return at_ < argc_ ? argv_[at_++] : nullptr; }
    bool fail(std::string message);

    int argc_;
    char** argv_;
    char short_name_;
    int short_id_;
    std::span<const long_option_spec> options_;
    int at_ = 1;
    bool options_end_ = false;
    std::string error_;
};
