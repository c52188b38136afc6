// Binary output and terminals. Bytes that are not text are not written to
// a terminal, where they would garble the screen or drive it (escape
// sequences), unless the command line asks for them there: "-o -" names
// standard output as the output, which then takes whatever the command
// makes. Output to a pipe or a file (-o FILE, or a redirection) is never
// checked. Two kinds of result are concerned:
//  - binary by the command line's choice (--raw, --outform der): refused
//    before anything is read, the message naming the text form to use;
//  - a decrypted or recovered message, which may be text or not: written
//    when it is text, refused before anything is written when it is not.
#ifndef CORVANE_TOOL_TERMINAL_OUTPUT_H
#define CORVANE_TOOL_TERMINAL_OUTPUT_H

#include <optional>
#include <string>

#include "tools/corvane/io/chunked_io.h"

namespace corvane::tool {

// Whether the check applies: no -o was given and standard output is a
// terminal.
bool outputGoesToTerminal(const std::optional<std::string>& output);

// The failure for binary output meant for a terminal; textForm says how to
// get text instead ("leave out --raw for Base64, the default"), if there is
// a way.
[[noreturn]] void refuseBinaryOutput(const std::string& textForm);

// For output that is binary by choice: refuses it when binary and meant
// for a terminal.
void checkBinaryOutput(const std::optional<std::string>& output, bool binary, const std::string& textForm);

// For a message: refuses it when it is not text and meant for a terminal.
void checkMessageOutput(const std::optional<std::string>& output, std::span<const std::uint8_t> message,
                        const std::string& textForm);

// The streaming form of checkMessageOutput, the last stage before the
// output: checks the first 4096 bytes (all of a shorter output) before
// passing anything on; what follows them is not checked.
class TerminalTextCheck final : public HeadCheck {
public:
    TerminalTextCheck(const std::optional<std::string>& output, std::string textForm, ByteSink& out);

private:
    void judge(std::span<const std::uint8_t> head, bool whole) override;

    std::string textForm_;
};

}  // namespace corvane::tool

#endif
