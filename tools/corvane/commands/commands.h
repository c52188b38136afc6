// The corvane tool's subcommands. Each takes the arguments after its own
// name and returns the process exit status: 0 success, 1 a cryptographic or
// I/O failure, 2 a usage error. Failures may also be thrown as ToolError
// (tool_error.h); main prints them.
#ifndef CORVANE_TOOL_COMMANDS_H
#define CORVANE_TOOL_COMMANDS_H

#include <string>
#include <vector>

namespace corvane::tool {

using Args = std::vector<std::string>;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

int runMd5(const Args& args);
int runBase64(const Args& args);
int runRsa(const Args& args);
int runDes3(const Args& args);
int runEnvelope(const Args& args);
int runDemo(const Args& args);
int runVersion(const Args& args);
// corvane --version: "corvane <the tool's version>".
int runToolVersion();

}  // namespace corvane::tool

#endif
