#include "tools/corvane/docs/manual_page.h"

#include <sstream>

#include "tools/corvane/docs/help_text.h"

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
std::string optionEntry(const OptionDoc& option) {
    std::string spellings;
    for (const std::string& spelling : option.spellings)
        spellings += (spellings.empty() ? "" : ", ") + escaped(spelling);
    std::string entry = ".TP\n";
    entry += option.valueName.empty() ? ".B \"" + spellings + "\"\n"
                                      : ".BI \"" + spellings + " \" " + escaped(option.valueName) + "\n";
    return entry + roffText(option.help);
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

std::string manualPage(const std::string& pageTemplate, const ToolDoc& tool) {
    // The usage lines of the commands without actions and of every action
    // (a command's own lines would repeat its actions').
    std::string synopsis = ".nf\ncorvane";
    for (const OptionDoc& option : tool.topLevel) {
        std::string spellings;
        for (const std::string& spelling : option.spellings)
            spellings += (spellings.empty() ? "" : " | ") + escaped(spelling);
        synopsis += " [" + spellings + "]";
    }
    synopsis += "\n";
    for (const CommandDoc& command : tool.commands)
        if (command.actions.empty())
            for (const std::string& usage : splitHelpText(command.help).usages) synopsis += escaped(usage) + "\n";
    synopsis += ".fi\n";

    std::string options;
    for (const OptionDoc& option : tool.topLevel) options += optionEntry(option);

    std::string commands;
    for (const CommandDoc& command : tool.commands) {
        commands += ".SS \"" + command.path + "\"\n" + roffText(splitHelpText(command.help).description);
        // Every command takes -h and --help; the page says so once.
        for (const OptionDoc& option : command.options)
            if (!option.isHelp) commands += optionEntry(option);
    }

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
