#include "option_list.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <sstream>

#include "command_table.h"
#include "options.h"

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

// The command and its actions, depth first.
void describeCommand(CLI::App& app, const std::string& path, ToolDoc& tool) {
    CommandDoc command{path, app.get_description(), optionDocs(app), {}};
    std::vector<CLI::App*> actions = app.get_subcommands({});
    for (CLI::App* action : actions) command.actions.push_back(action->get_name());
    tool.commands.push_back(std::move(command));
    for (CLI::App* action : actions) describeCommand(*action, path + " " + action->get_name(), tool);
}

}  // namespace

CLI::Validator suggestedValues(const std::vector<std::string>& words) {
    return CLI::Validator([](std::string&) { return std::string(); }, "", kSuggestedPrefix + join(words, " "));
}

std::vector<OptionDoc> optionDocs(CLI::App& app) {
    std::vector<OptionDoc> docs;
    for (CLI::Option* option : app.get_options([](const CLI::Option* o) { return o->nonpositional(); })) {
        OptionDoc doc;
        for (const std::string& name : option->get_snames()) doc.spellings.push_back("-" + name);
        for (const std::string& name : option->get_lnames()) doc.spellings.push_back("--" + name);
        if (option->get_items_expected_max() != 0) doc.valueName = option->get_type_name();
        doc.help = option->get_description();
        doc.suggested = suggestedValuesOf(*option);
        doc.isHelp = option->check_lname("help");
        docs.push_back(std::move(doc));
    }
    return docs;
}

void addTopLevelOptions(CLI::App& app, bool& help, bool& version) {
    app.set_help_flag();
    app.add_flag("-h,--help", help, "this text");
    app.add_flag("--version", version, "the tool's version and the library's");
}

ToolDoc describeTool() {
    CLI::App tree("", "corvane");
    // The flags' targets: the tree is only read, never parsed.
    bool help = false, version = false;
    addTopLevelOptions(tree, help, version);
    Options::describeInto(&tree);
    for (const ToolCommand& command : toolCommands()) command.run({});
    Options::describeInto(nullptr);
    ToolDoc tool{optionDocs(tree), {}};
    for (CLI::App* command : tree.get_subcommands({})) describeCommand(*command, command->get_name(), tool);
    return tool;
}

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
