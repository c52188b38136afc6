// The bash completion script, made from the option tree: command and action
// names, each command's and action's options, and the values of options
// (file names for FILE, variable names for NAME, the suggested words).
#ifndef CORVANE_TOOL_DOCS_COMPLETION_SCRIPT_H
#define CORVANE_TOOL_DOCS_COMPLETION_SCRIPT_H

#include <string>

#include "tools/corvane/options/option_list.h"

namespace corvane::tool::docs {

std::string completionScript(const ToolDoc& tool);

}  // namespace corvane::tool::docs

#endif
