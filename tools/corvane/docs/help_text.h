// A command's help text, as the tool's --help prints it, taken apart for
// the manual page: the usage lines first, then the description.
#ifndef CORVANE_TOOL_DOCS_HELP_TEXT_H
#define CORVANE_TOOL_DOCS_HELP_TEXT_H

#include <string>
#include <vector>

namespace corvane::tool::docs {

struct HelpText {
    // Each usage without "usage: ", its continuation lines joined.
    std::vector<std::string> usages;
    // The lines after the usage lines.
    std::string description;
};

HelpText splitHelpText(const std::string& help);

}  // namespace corvane::tool::docs

#endif
