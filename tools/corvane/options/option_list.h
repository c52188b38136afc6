// The tool's options as plain data, read back out of CLI11: each option's
// spellings, value placeholder, help text and suggested values, and the
// whole tree of commands and actions described from their declarations.
// --help, the manual page and the completion script are all made from
// these, so that all three say the same. The option reader (options.cpp)
// implements everything here that touches CLI11, so that CLI11, slow to
// compile, is compiled in as few files as possible.
#ifndef CORVANE_TOOL_OPTION_LIST_H
#define CORVANE_TOOL_OPTION_LIST_H

#include <string>
#include <vector>

namespace CLI {
class App;
class Validator;
}  // namespace CLI

namespace corvane::tool {

struct OptionDoc {
    // Short spellings first ("-d", "--decode").
    std::vector<std::string> spellings;
    // The placeholder of its value ("FILE"), empty for a flag.
    std::string valueName;
    std::string help;
    // Values the completion offers (see suggestedValues).
    std::vector<std::string> suggested;
    // -h/--help, which every command takes.
    bool isHelp = false;
};

struct CommandDoc {
    // "md5", "rsa", "rsa encrypt".
    std::string path;
    // Its help text: usage lines, then the description.
    std::string help;
    std::vector<OptionDoc> options;
    // Names of its actions; none for a command users run as it is.
    std::vector<std::string> actions;
};

struct ToolDoc {
    std::vector<OptionDoc> topLevel;
    // Every command, each followed by its actions.
    std::vector<CommandDoc> commands;
};

// A check that accepts every value and records words for the completion to
// offer; the command itself checks the value.
CLI::Validator suggestedValues(const std::vector<std::string>& words);

// The options of app that users type, -h/--help included, in order.
std::vector<OptionDoc> optionDocs(CLI::App& app);

// The options before the command: -h/--help and --version.
void addTopLevelOptions(CLI::App& app, bool& help, bool& version);

// The whole tool, described from the commands' own declarations
// (Options::describeInto); nothing is run but those declarations.
ToolDoc describeTool();

// "  -w, --wrap COLS    end a line ..." for each option, descriptions
// wrapped at 79 columns.
std::string optionList(const std::vector<OptionDoc>& options);

}  // namespace corvane::tool

#endif
