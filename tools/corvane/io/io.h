// Small I/O helpers shared by the subcommands.
#ifndef CORVANE_TOOL_IO_H
#define CORVANE_TOOL_IO_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corvane::tool {

using Bytes = std::vector<std::uint8_t>;

// Reads a whole file ("-" is standard input) as bytes, but no more than
// limit + 1 of them: a result longer than limit says that the file is. nullopt
// on failure, with errno describing the cause.
std::optional<Bytes> readAll(const std::string& path, std::size_t limit);

// The input of a command that reads one FILE or, when none is named (or
// "-"), standard input, for inputs that are small by nature (an RSA message
// or block). Throws a failure (exit status 1) naming the file and the cause
// when it cannot be read, or when it holds more than limit bytes.
Bytes readInput(const std::vector<std::string>& files, std::size_t limit);

// The name of an input in messages: the path, or "standard input" for "-".
std::string inputName(const std::string& path);

// Writes bytes (or text) to the output (standard output, or the file that
// redirectOutput named) exactly as given. A write that fails (a full disk, a
// closed pipe) throws a failure (exit status 1) naming the cause, at once,
// so that nothing after it is reported as success.
void writeBytes(std::span<const std::uint8_t> bytes);
void writeText(const std::string& text);

// Flushes the output; throws the write failure if that fails. A write
// failure already thrown is not thrown again, so a run reports it once.
void flushOutput();

// Sends what writeBytes writes to stream from now on (standard output for
// null); returns the stream it went to before.
std::FILE* redirectOutput(std::FILE* stream);

// Gives standard input and output buffers of the tool's own, which
// wipeStandardBuffers clears: the C library's would keep the last key read
// from standard input, or the last decrypted message written, in memory
// until the process ends. Call before the first read or write; main does,
// and wipes them as the process ends.
void useWipedStandardBuffers();
void wipeStandardBuffers();

// Prints "corvane: <message>" on standard error.
void printError(const std::string& message);

}  // namespace corvane::tool

#endif
