// The one way a subcommand reports failure: it throws ToolError with the
// exit status and a message; main prints "corvane: <command>: <message>" on
// standard error and exits with that status.
#ifndef CORVANE_TOOL_TOOL_ERROR_H
#define CORVANE_TOOL_TOOL_ERROR_H

#include <stdexcept>
#include <string>

#include "tools/corvane/commands/commands.h"

namespace corvane::tool {

class ToolError : public std::runtime_error {
public:
    ToolError(int status, const std::string& message) : std::runtime_error(message), status_(status) {}
    int status() const noexcept { return status_; }

private:
    int status_;
};

// A malformed command line (exit status 2).
[[noreturn]] inline void usageError(const std::string& message) {
    throw ToolError(kExitUsage, message);
}
// A cryptographic or I/O failure (exit status 1).
[[noreturn]] inline void failure(const std::string& message) {
    throw ToolError(kExitFailure, message);
}

}  // namespace corvane::tool

#endif
