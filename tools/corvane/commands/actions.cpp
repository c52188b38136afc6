#include "tools/corvane/commands/actions.h"

#include <cstdio>
#include <string>

#include "tools/corvane/options/options.h"
#include "tools/corvane/options/suggestions.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

int runAction(const char* command, std::span<const Action> actions, const char* help, const Args& args) {
    const std::string seeHelp = std::string(" (see corvane ") + command + " --help)";
    if (Options::describing() != nullptr) {
        Options::describeCommand(command, help);
        for (const Action& action : actions) action.run({});
        return kExitOk;
    }
    if (args.empty()) {
        // "encrypt, decrypt or keygen"
        std::string names;
        for (std::size_t i = 0; i < actions.size(); ++i)
            names += (i == 0 ? "" : i + 1 == actions.size() ? " or " : ", ") + std::string(actions[i].name);
        usageError("needs an action: " + names + seeHelp);
    }
    const std::string& name = args[0];
    if (name == "--help" || name == "-h") {
        std::string text = std::string(help) + "\nactions (each takes --help):\n";
        for (const Action& action : actions) {
            std::string line = std::string("  ") + action.name;
            line.resize(11, ' ');
            text += line + action.summary + "\n";
        }
        std::fputs(text.c_str(), stdout);
        return kExitOk;
    }
    std::vector<std::string> names;
    for (const Action& action : actions) {
        if (name == action.name) return action.run(Args(args.begin() + 1, args.end()));
        names.push_back(action.name);
    }
    usageError("unknown action " + name + didYouMean(name, names) + seeHelp);
}

}  // namespace corvane::tool
