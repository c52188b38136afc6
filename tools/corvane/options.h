// The subcommands' option reader, over CLI11.
//
// Options are "--name VALUE", "--name=VALUE", "-n VALUE", "-nVALUE" or flags
// ("--raw", "-d"). "--" ends the options; "-" alone is a positional argument
// (standard input). --help and -h print the command's help text and make
// parse() return false. Unknown options, missing values and repeated options
// are usage errors (ToolError with exit status 2) in the tool's own words.
#ifndef CORVANE_TOOL_OPTIONS_H
#define CORVANE_TOOL_OPTIONS_H

#include <optional>
#include <string>
#include <vector>

#include "commands.h"

namespace corvane::tool {

class Options {
public:
    // command names the subcommand in messages ("des3 encrypt"); help is
    // printed as it stands for --help.
    Options(std::string command, std::string help);

    // A flag; names may hold a long and a short spelling.
    Options& flag(std::vector<std::string> names, bool& target);
    // An option that takes a value; likewise.
    Options& value(std::vector<std::string> names, std::optional<std::string>& target);
    Options& value(const char* name, std::optional<std::string>& target) {
        return value(std::vector<std::string>{name}, target);
    }

    // Reads args; false when the help text was printed.
    bool parse(const Args& args);
    const std::vector<std::string>& positional() const { return positional_; }
    // Throws a usage error when more than max positional arguments were given.
    void allowAtMostPositional(std::size_t max) const;

    // "<message> (see corvane <command> --help)" as a usage error.
    [[noreturn]] void fail(const std::string& message) const;

private:
    struct Flag {
        std::vector<std::string> names;
        bool* target;
    };
    struct Value {
        std::vector<std::string> names;
        std::optional<std::string>* target;
    };

    std::string command_;
    std::string help_;
    std::vector<Flag> flags_;
    std::vector<Value> values_;
    std::vector<std::string> positional_;
};

}  // namespace corvane::tool

#endif
