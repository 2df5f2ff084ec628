#include "command_options.hpp"

#include <cstring>
#include <utility>

option_reader::option_reader(int argc, char** argv, char short_name, int short_id,
                             std::span<const long_option_spec> options)
    : argc_(argc), argv_(argv), short_name_(short_name), short_id_(short_id), options_(options) {}

bool option_reader::fail(std::string message) {
    error_ = std::move(message);
    return false;
}

bool option_reader::next(command_argument& out) {
    while (error_.empty() && at_ < argc_) {
        const char* arg = argv_[at_++];
        if (options_end_ || arg[0] != '-' || arg[1] == '\0') {
            out = {OPERAND, arg};
            return true;
        }
        if (std::strcmp(arg, "--") == 0) {
            options_end_ = true;
            continue;
        }
        if (arg[1] != '-') {
            if (arg[1] != short_name_) return fail("invalid option -- '" + std::string(1, arg[1]) + "'");
            const char* value = arg[2] != '\0' ? arg + 2 : following();
            if (value == nullptr)
                return fail("option requires an argument -- '" + std::string(1, short_name_) + "'");
            out = {short_id_, value};
            return true;
        }
        const std::string_view text(arg + 2);
        const std::size_t equals = text.find('=');
        const std::string_view name = text.substr(0, equals);
        const long_option_spec* found = nullptr;
        int prefixed = 0;
        for (const long_option_spec& option : options_) {
            if (option.name == name) {
                found = &option;
                prefixed = 1;
                break;
            }
            if (!name.empty() && option.name.starts_with(name)) {
                found = &option;
                ++prefixed;
            }
        }
        if (found == nullptr) return fail("unrecognized option '" + std::string(arg) + "'");
        if (prefixed > 1) return fail("option '" + std::string(arg) + "' is ambiguous");
        if (!found->takes_value) {
            if (equals != std::string_view::npos)
                return fail("option '--" + std::string(name) + "' doesn't allow an argument");
            out = {found->id, nullptr};
            return true;
        }
        const char* value = equals != std::string_view::npos ? arg + 3 + equals : following();
        if (value == nullptr) return fail("option '--" + std::string(found->name) + "' requires an argument");
        out = {found->id, value};
        return true;
    }
    return false;
}
