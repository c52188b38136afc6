// How the tool's declared options read back out of CLI11: the spelling of
// each option, the values its completion suggests, and the option list of
// a command's --help. The manual page and the completion script use the
// same readers, so that all three say the same.
#ifndef CORVANE_TOOL_OPTION_LIST_H
#define CORVANE_TOOL_OPTION_LIST_H

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace corvane::tool {

// A check that accepts every value and records words for the completion to
// offer; the command itself checks the value.
CLI::Validator suggestedValues(const std::vector<std::string>& words);
// The words recorded by suggestedValues, none when there are none.
std::vector<std::string> suggestedValuesOf(CLI::Option& option);

// Every spelling, short ones first ("-d", "--decode").
std::vector<std::string> spellingsOf(const CLI::Option& option);
// The placeholder of its value ("FILE"), empty for a flag.
std::string valueNameOf(const CLI::Option& option);
// The options of app that users type, -h/--help included; not the
// positional arguments.
std::vector<CLI::Option*> namedOptions(CLI::App& app);

// "  -w, --wrap COLS    end a line ..." for each named option of app,
// descriptions wrapped at 79 columns.
std::string optionList(CLI::App& app);

}  // namespace corvane::tool

#endif
