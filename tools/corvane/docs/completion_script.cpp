#include "tools/corvane/docs/completion_script.h"

#include <map>
#include <vector>


namespace corvane::tool::docs {

namespace {

std::string join(const std::vector<std::string>& words, const std::string& separator) {
    std::string joined;
    for (const std::string& word : words) joined += (joined.empty() ? "" : separator) + word;
    return joined;
}

std::vector<std::string> optionWords(const std::vector<OptionDoc>& options) {
    std::vector<std::string> words;
    for (const OptionDoc& option : options)
        for (const std::string& spelling : option.spellings) words.push_back(spelling);
    return words;
}

// A `case` branch: each pattern on a line of its own, then the commands
// (lines apart), indented under a `case` at indent.
std::string caseBranch(const std::vector<std::string>& patterns, const std::string& commands,
                       std::size_t indent = 4) {
    const std::string pattern(indent + 4, ' '), body(indent + 8, ' ');
    std::string branch;
    for (std::size_t i = 0; i < patterns.size(); ++i)
        branch += pattern + "\"" + patterns[i] + "\"" + (i + 1 < patterns.size() ? " | \\\n" : ")\n");
    for (std::size_t start = 0, end; start < commands.size(); start = end + 1) {
        end = commands.find('\n', start);
        if (end == std::string::npos) end = commands.size();
        branch += body + commands.substr(start, end - start) + "\n";
    }
    return branch + body + ";;\n";
}

}  // namespace

std::string completionScript(const ToolDoc& tool) {
    std::vector<std::string> commandNames, actionCommands;
    std::string actionBranches;
    // The value completions, by kind, keyed "<leaf> <option spelling>"; a
    // leaf is a command without actions, or an action.
    std::vector<std::string> files, variables, others;
    std::map<std::string, std::vector<std::string>> suggested;  // words -> patterns
    std::string optionBranches;
    for (const CommandDoc& command : tool.commands) {
        if (command.path.find(' ') == std::string::npos) commandNames.push_back(command.path);
        if (!command.actions.empty()) {
            actionCommands.push_back(command.path);
            std::vector<std::string> words = command.actions;
            for (const std::string& word : optionWords(command.options)) words.push_back(word);
            actionBranches += caseBranch(
                {command.path}, "COMPREPLY=($(compgen -W \"" + join(words, " ") + "\" -- \"$cur\"))\nreturn", 8);
            continue;
        }
        for (const OptionDoc& option : command.options) {
            if (option.valueName.empty()) continue;
            for (const std::string& spelling : option.spellings) {
                std::string pattern = command.path + " " + spelling;
                if (!option.suggested.empty())
                    suggested[join(option.suggested, " ")].push_back(pattern);
                else if (option.valueName == "FILE")
                    files.push_back(pattern);
                else if (option.valueName == "NAME")
                    variables.push_back(pattern);
                else
                    others.push_back(pattern);
            }
        }
        optionBranches += caseBranch(
            {command.path}, "COMPREPLY=($(compgen -W \"" + join(optionWords(command.options), " ") + "\" -- \"$cur\"))");
    }
    std::vector<std::string> topWords = commandNames;
    for (const std::string& word : optionWords(tool.topLevel)) topWords.push_back(word);

    std::string valueBranches;
    if (!files.empty()) valueBranches += caseBranch(files, "COMPREPLY=($(compgen -f -- \"$cur\"))\nreturn");
    if (!variables.empty())
        valueBranches += caseBranch(variables, "COMPREPLY=($(compgen -e -- \"$cur\"))\nreturn");
    for (const auto& [words, patterns] : suggested)
        valueBranches += caseBranch(patterns, "COMPREPLY=($(compgen -W \"" + words + "\" -- \"$cur\"))\nreturn");
    // Values nothing can be offered for: no file names either.
    if (!others.empty()) valueBranches += caseBranch(others, "return");

    std::string leafOf = "    case \"$command\" in\n";
    for (const std::string& command : actionCommands)
        leafOf += "        " + command + ") leaf=\"$command ${COMP_WORDS[2]}\" ;;\n";
    leafOf += "    esac\n";

    return "# bash completion for corvane                              -*- shell-script -*-\n"
           "# Made from the tool's option declarations when the tool is built.\n"
           "# Installed as bash-completion/completions/corvane; works with or without the\n"
           "# bash-completion package (it uses only bash's own compgen).\n"
           "\n"
           "_corvane() {\n"
           "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD - 1]}\"\n"
           "    local command=\"${COMP_WORDS[1]}\" leaf=\"${COMP_WORDS[1]}\"\n"
           "    COMPREPLY=()\n" +
           leafOf +
           "\n"
           "    if ((COMP_CWORD == 1)); then\n"
           "        COMPREPLY=($(compgen -W \"" +
           join(topWords, " ") +
           "\" -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    if ((COMP_CWORD == 2)); then\n"
           "        case \"$command\" in\n" +
           actionBranches +
           "        esac\n"
           "    fi\n"
           "\n"
           "    # The value of the option before the word.\n"
           "    case \"$leaf $prev\" in\n" +
           valueBranches +
           "    esac\n"
           "\n"
           "    if [[ \"$cur\" != -* ]]; then\n"
           "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    case \"$leaf\" in\n" +
           optionBranches +
           "    esac\n"
           "}\n"
           "\n"
           "complete -o filenames -F _corvane corvane\n";
}

}  // namespace corvane::tool::docs
