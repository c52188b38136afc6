// Small I/O helpers shared by the subcommands.
#ifndef CORVANE_TOOL_IO_H
#define CORVANE_TOOL_IO_H

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace corvane::tool {

// Reads a whole file ("-" is standard input) as bytes; nullopt on failure,
// with errno describing the cause.
std::optional<std::vector<unsigned char>> readAll(const std::string& path);

// Prints "corvane: <message>" on standard error.
void printError(const std::string& message);

}  // namespace corvane::tool

#endif
