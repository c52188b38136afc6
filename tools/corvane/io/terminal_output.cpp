#include "tools/corvane/io/terminal_output.h"

#include <unistd.h>

#include "tools/corvane/io/text_forms.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

constexpr std::size_t kCheckedLength = 4096;

}  // namespace

bool outputGoesToTerminal(const std::optional<std::string>& output) {
    return !output && ::isatty(STDOUT_FILENO) == 1;
}

void refuseBinaryOutput(const std::string& textForm) {
    failure("not writing binary output to a terminal: " + (textForm.empty() ? "" : textForm + ", or ") +
            "give -o FILE (-o - writes it to the terminal anyway)");
}

void checkBinaryOutput(const std::optional<std::string>& output, bool binary, const std::string& textForm) {
    if (binary && outputGoesToTerminal(output)) refuseBinaryOutput(textForm);
}

void checkMessageOutput(const std::optional<std::string>& output, std::span<const std::uint8_t> message,
                        const std::string& textForm) {
    if (outputGoesToTerminal(output) && !isDisplayableText(message)) refuseBinaryOutput(textForm);
}

// Nothing is held back when the output is no terminal.
TerminalTextCheck::TerminalTextCheck(const std::optional<std::string>& output, std::string textForm, ByteSink& out)
    : HeadCheck(outputGoesToTerminal(output) ? kCheckedLength : 0, out), textForm_(std::move(textForm)) {}

void TerminalTextCheck::judge(std::span<const std::uint8_t> head, bool whole) {
    if (!isDisplayableText(head, !whole)) refuseBinaryOutput(textForm_);
}

}  // namespace corvane::tool
