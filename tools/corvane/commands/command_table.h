// The tool's commands: the one table that main dispatches through and that
// the option tree (option_list.h) is described from.
#ifndef CORVANE_TOOL_COMMAND_TABLE_H
#define CORVANE_TOOL_COMMAND_TABLE_H

#include <span>

#include "tools/corvane/commands/commands.h"

namespace corvane::tool {

struct ToolCommand {
    const char* name;
    int (*run)(const Args& args);
    const char* summary;
};

// Every command, in the order of their names.
std::span<const ToolCommand> toolCommands();

}  // namespace corvane::tool

#endif
