// The manual page: a hand-written template (NAME, DESCRIPTION, EXIT STATUS,
// EXAMPLES...) whose placeholder lines are replaced by sections made from
// the option tree.
#ifndef CORVANE_TOOL_DOCS_MANUAL_PAGE_H
#define CORVANE_TOOL_DOCS_MANUAL_PAGE_H

#include <string>

#include "tools/corvane/options/option_list.h"

namespace corvane::tool::docs {

// Plain text as roff text lines: backslashes and dashes escaped, a leading
// dot or quote guarded, blank lines as paragraph breaks.
std::string roffText(const std::string& text);

// The template with each line "@CORVANE_SYNOPSIS@", "@CORVANE_OPTIONS@" and
// "@CORVANE_COMMANDS@" replaced: the usage lines of every command, the
// top-level options, and every command and action with its description and
// options.
std::string manualPage(const std::string& pageTemplate, const ToolDoc& tool);

}  // namespace corvane::tool::docs

#endif
