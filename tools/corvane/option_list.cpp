#include "option_list.h"

#include <sstream>

namespace corvane::tool {

namespace {

// The validator's name carries the words; its description stays empty so
// that CLI11 adds nothing to the value's placeholder.
const std::string kSuggestedPrefix = "suggested:";

constexpr std::size_t kDescriptionColumn = 33;
constexpr std::size_t kLineWidth = 79;

std::string join(const std::vector<std::string>& words, const std::string& separator) {
    std::string joined;
    for (const std::string& word : words) joined += (joined.empty() ? "" : separator) + word;
    return joined;
}

}  // namespace

CLI::Validator suggestedValues(const std::vector<std::string>& words) {
    return CLI::Validator([](std::string&) { return std::string(); }, "", kSuggestedPrefix + join(words, " "));
}

std::vector<std::string> suggestedValuesOf(CLI::Option& option) {
    std::vector<std::string> words;
    try {
        const std::string& name = option.get_validator()->get_name();
        if (name.rfind(kSuggestedPrefix, 0) != 0) return words;
        std::istringstream text(name.substr(kSuggestedPrefix.size()));
        for (std::string word; text >> word;) words.push_back(word);
    } catch (const CLI::OptionNotFound&) {
        // No validator: nothing suggested.
    }
    return words;
}

std::vector<std::string> spellingsOf(const CLI::Option& option) {
    std::vector<std::string> spellings;
    for (const std::string& name : option.get_snames()) spellings.push_back("-" + name);
    for (const std::string& name : option.get_lnames()) spellings.push_back("--" + name);
    return spellings;
}

std::string valueNameOf(const CLI::Option& option) {
    return option.get_items_expected_max() == 0 ? std::string() : option.get_type_name();
}

std::vector<CLI::Option*> namedOptions(CLI::App& app) {
    return app.get_options([](const CLI::Option* option) { return option->nonpositional(); });
}

std::string optionList(CLI::App& app) {
    std::string list;
    for (CLI::Option* option : namedOptions(app)) {
        std::string line = "  " + join(spellingsOf(*option), ", ");
        if (std::string value = valueNameOf(*option); !value.empty()) line += " " + value;
        // The description's words, filled into lines from its column.
        std::istringstream words(option->get_description());
        bool first = true;
        for (std::string word; words >> word; first = false) {
            std::size_t column = line.size() - (line.rfind('\n') == std::string::npos ? 0 : line.rfind('\n') + 1);
            if (first && column + 1 < kDescriptionColumn) {
                line.append(kDescriptionColumn - column, ' ');
            } else if (first || column + 1 + word.size() > kLineWidth) {
                line += "\n" + std::string(kDescriptionColumn, ' ');
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
