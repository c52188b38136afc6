#include "tools/corvane/options/option_list.h"

#include <sstream>

namespace corvane::tool {

namespace {

constexpr std::size_t kDescriptionColumn = 33;
constexpr std::size_t kLineWidth = 79;

std::string join(const std::vector<std::string>& words, const std::string& separator) {
    std::string joined;
    for (const std::string& word : words) joined += (joined.empty() ? "" : separator) + word;
    return joined;
}

}  // namespace

std::string optionList(const std::vector<OptionDoc>& options) {
    std::string list;
    for (const OptionDoc& option : options) {
        std::string line = "  " + join(option.spellings, ", ");
        if (!option.valueName.empty()) line += " " + option.valueName;
        // The description's words, filled into lines from its column.
        std::istringstream words(option.help);
        std::size_t lineStart = 0;
        bool first = true;
        for (std::string word; words >> word; first = false) {
            std::size_t column = line.size() - lineStart;
            if (first && column + 1 < kDescriptionColumn) {
                line.append(kDescriptionColumn - column, ' ');
            } else if (first || column + 1 + word.size() > kLineWidth) {
                line += "\n";
                lineStart = line.size();
                line.append(kDescriptionColumn, ' ');
            } else {
                line += ' ';
            }
            line += word;
        }
        list += line + "\n";
    }
    return list;
}

}  // namespace corvane::tool
