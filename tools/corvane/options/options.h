// The subcommands' option reader, over CLI11.
//
// Options are "--name VALUE", "--name=VALUE", "-n VALUE", "-nVALUE" or flags
// ("--raw", "-d"). "--" ends the options; "-" alone is a positional argument
// (standard input). --help and -h print the command's help text and make
// parse() return false. Unknown options, missing values and repeated options
// are usage errors (ToolError with exit status 2) in the tool's own words,
// an unknown option with the spellings it may be a slip for.
//
// The declarations are the one list of the tool's options: --help, the
// manual page and the bash completion are all made from them (describeInto).
#ifndef CORVANE_TOOL_OPTIONS_H
#define CORVANE_TOOL_OPTIONS_H

#include <optional>
#include <string>
#include <vector>

#include "tools/corvane/commands/commands.h"

namespace CLI {
class App;
class Option;
}

namespace corvane::tool {

// What --help, the manual page and the completion say about a value.
// valueName is the placeholder shown ("FILE", "N"); "FILE" values complete
// as file names and "NAME" values as environment variable names. suggested
// are the values the completion offers (not a limit: the command checks).
struct ValueHelp {
    std::string help;
    std::string valueName = "VALUE";
    std::vector<std::string> suggested = {};
};

class Options {
public:
    // command names the subcommand in messages ("des3 encrypt"); help is
    // its usage lines and description, printed for --help before the
    // options.
    Options(std::string command, std::string help);

    // A flag; names may hold a long and a short spelling.
    Options& flag(std::vector<std::string> names, bool& target, std::string help = {});
    // An option that takes a value; likewise.
    Options& value(std::vector<std::string> names, std::optional<std::string>& target, ValueHelp help = {});
    Options& value(const char* name, std::optional<std::string>& target, ValueHelp help = {}) {
        return value(std::vector<std::string>{name}, target, std::move(help));
    }
    // Old spellings of the option declared last, still taken but never shown
    // (help, manual page and completion name only the current ones); given
    // together with the current one, it counts as given twice.
    Options& alias(std::vector<std::string> hidden);

    // Reads args; false when the help text was printed (or the options
    // were only described, see describeInto).
    bool parse(const Args& args);
    const std::vector<std::string>& positional() const { return positional_; }
    // Throws a usage error when more than max positional arguments were given.
    void allowAtMostPositional(std::size_t max) const;

    // "<message> (see corvane <command> --help)" as a usage error.
    [[noreturn]] void fail(const std::string& message) const;

    // The decimal count an option gave, or fallback when it was not given;
    // a usage error ("NAME takes LOW to HIGH") for anything but a count in
    // that range.
    unsigned long long count(const std::optional<std::string>& text, const std::string& name,
                             unsigned long long low, unsigned long long high,
                             unsigned long long fallback) const;

    // While tree is set, parse() reads nothing: it adds the command to tree
    // as nested subcommands named by the command's words ("rsa encrypt"),
    // with its description and options, and returns false. Null ends it.
    static void describeInto(CLI::App* tree);
    // The tree being described into, or null.
    static CLI::App* describing();
    // Adds a command made of actions to the tree being described, with its
    // help text; its actions describe themselves.
    static void describeCommand(const std::string& command, const std::string& help);

private:
    // A flag when flagTarget is set, an option with a value otherwise.
    struct Declared {
        std::vector<std::string> names;
        bool* flagTarget;
        std::optional<std::string>* valueTarget;
        ValueHelp help;
        std::vector<std::string> aliases = {};
    };
    // The CLI11 options of one declaration: its own, and its aliases' (null
    // without aliases).
    struct Defined {
        CLI::Option* shown;
        CLI::Option* hidden;
    };

    // Adds the declared options to app, in the order of declaration.
    std::vector<Defined> define(CLI::App& app) const;
    // The message of an option that CLI11 found without its value, or with
    // one it does not take; spelled is the argument as given.
    std::string mismatchMessage(const std::string& spelled) const;
    // "unknown option X", with the nearest spellings this command takes.
    std::string unknownOptionMessage(const std::string& spelled) const;

    std::string command_;
    std::string help_;
    std::vector<Declared> declared_;
    std::vector<std::string> positional_;
};

}  // namespace corvane::tool

#endif
