// The tool's commands: the one table that main dispatches through and that
// the option tree (option_tree.h) is described from.
#ifndef CORVANE_TOOL_COMMAND_TABLE_H
#define CORVANE_TOOL_COMMAND_TABLE_H

#include <CLI/CLI.hpp>
#include <memory>
#include <span>

#include "commands.h"

namespace corvane::tool {

struct ToolCommand {
    const char* name;
    int (*run)(const Args& args);
    const char* summary;
};

// Every command, in the order of their names.
std::span<const ToolCommand> toolCommands();

// The options before the command: -h/--help and --version.
void addTopLevelOptions(CLI::App& app, bool& help, bool& version);

// The whole tree: the top-level options, then each command and action as a
// subcommand with its help text as description and its options, taken from
// the commands' own declarations. Nothing is run but those declarations.
std::unique_ptr<CLI::App> optionTree();

}  // namespace corvane::tool

#endif
