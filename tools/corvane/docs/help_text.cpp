#include "tools/corvane/docs/help_text.h"

#include <sstream>

namespace corvane::tool::docs {

HelpText splitHelpText(const std::string& help) {
    HelpText text;
    std::istringstream lines(help);
    std::string line;
    bool inUsage = true;
    while (std::getline(lines, line)) {
        if (inUsage && line.rfind("usage: ", 0) == 0) {
            text.usages.push_back(line.substr(7));
        } else if (inUsage && !text.usages.empty() && line.rfind("  ", 0) == 0) {
            // "       corvane ..." is another usage; a deeper indent goes on
            // the line before.
            std::size_t start = line.find_first_not_of(' ');
            if (line.compare(start, 8, "corvane ") == 0)
                text.usages.push_back(line.substr(start));
            else
                text.usages.back() += " " + line.substr(start);
        } else {
            inUsage = false;
            text.description += line + "\n";
        }
    }
    return text;
}

}  // namespace corvane::tool::docs
