// Commands made of actions (corvane rsa encrypt, corvane des3 keygen): the
// action is the first word after the command's name.
#ifndef CORVANE_TOOL_ACTIONS_H
#define CORVANE_TOOL_ACTIONS_H

#include <span>

#include "tools/corvane/commands/commands.h"

namespace corvane::tool {

struct Action {
    const char* name;
    int (*run)(const Args& args);
    const char* summary;
};

// Runs the action that args name with the arguments after its name.
// --help prints help and the actions' summaries. No action, or an unknown
// one, is a usage error that names the actions. While the option tree is
// described (Options::describeInto), adds the command with help as its
// description and describes every action.
int runAction(const char* command, std::span<const Action> actions, const char* help, const Args& args);

}  // namespace corvane::tool

#endif
