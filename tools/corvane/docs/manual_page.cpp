#include "manual_page.h"

#include <sstream>

#include "help_text.h"
#include "option_list.h"

namespace corvane::tool::docs {

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    return out;
}

// ".TP" and the option's spellings in bold, its value in italics.
std::string optionEntry(CLI::Option& option) {
    std::string spellings;
    for (const std::string& spelling : spellingsOf(option))
        spellings += (spellings.empty() ? "" : ", ") + escaped(spelling);
    std::string value = valueNameOf(option);
    std::string entry = ".TP\n";
    entry += value.empty() ? ".B \"" + spellings + "\"\n" : ".BI \"" + spellings + " \" " + escaped(value) + "\n";
    return entry + roffText(option.get_description());
}

// The command's description and options, then its actions', each under
// its own subsection heading.
void describeCommand(CLI::App& command, const std::string& path, std::string& out) {
    out += ".SS \"" + path + "\"\n" + roffText(splitHelpText(command.get_description()).description);
    // Every command takes -h and --help; the page says so once.
    for (CLI::Option* option : namedOptions(command))
        if (option != command.get_help_ptr()) out += optionEntry(*option);
    for (CLI::App* action : command.get_subcommands({}))
        describeCommand(*action, path + " " + action->get_name(), out);
}

// Usage lines of the commands without actions and of every action.
void collectUsages(CLI::App& command, std::string& out) {
    std::vector<CLI::App*> actions = command.get_subcommands({});
    if (actions.empty())
        for (const std::string& usage : splitHelpText(command.get_description()).usages) out += escaped(usage) + "\n";
    for (CLI::App* action : actions) collectUsages(*action, out);
}

}  // namespace

std::string roffText(const std::string& text) {
    std::string out;
    std::istringstream lines(text);
    bool paragraphStarted = false;
    for (std::string line; std::getline(lines, line);) {
        std::size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos) {
            // A blank line between paragraphs; none at the start or end.
            if (paragraphStarted) out += ".PP\n";
            paragraphStarted = false;
            continue;
        }
        line = escaped(line.substr(start));
        if (line[0] == '.' || line[0] == '\'') line = "\\&" + line;
        out += line + "\n";
        paragraphStarted = true;
    }
    // A trailing paragraph break would open an empty paragraph.
    if (out.size() >= 4 && out.compare(out.size() - 4, 4, ".PP\n") == 0) out.resize(out.size() - 4);
    return out;
}

std::string manualPage(const std::string& pageTemplate, CLI::App& tree) {
    std::string synopsis = ".nf\ncorvane";
    for (CLI::Option* option : namedOptions(tree)) {
        std::string spellings;
        for (const std::string& spelling : spellingsOf(*option))
            spellings += (spellings.empty() ? "" : " | ") + escaped(spelling);
        synopsis += " [" + spellings + "]";
    }
    synopsis += "\n";
    for (CLI::App* command : tree.get_subcommands({})) collectUsages(*command, synopsis);
    synopsis += ".fi\n";

    std::string options;
    for (CLI::Option* option : namedOptions(tree)) options += optionEntry(*option);

    std::string commands;
    for (CLI::App* command : tree.get_subcommands({})) describeCommand(*command, command->get_name(), commands);

    std::string page;
    std::istringstream lines(pageTemplate);
    for (std::string line; std::getline(lines, line);) {
        if (line == "@CORVANE_SYNOPSIS@")
            page += synopsis;
        else if (line == "@CORVANE_OPTIONS@")
            page += options;
        else if (line == "@CORVANE_COMMANDS@")
            page += commands;
        else
            page += line + "\n";
    }
    return page;
}

}  // namespace corvane::tool::docs
