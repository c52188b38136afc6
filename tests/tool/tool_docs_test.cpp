// The pieces that make the manual page and the bash completion from the
// tool's option tree, in-process: roff text that groff reads as the plain
// text it came from, help texts split into usages and description, and a
// page whose every command section lists exactly that command's options.
// cli_test checks the files the build made (groff, bash) against the tool.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/corvane/docs/help_text.h"
#include "tools/corvane/docs/manual_page.h"
#include "tools/corvane/options/option_list.h"

namespace {

using namespace corvane::tool;

TEST(ToolDocsRoff, PlainTextBecomesRoffText) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--raw and -d\n", "\\-\\-raw and \\-d\n"},
        {"a \\ backslash\n", "a \\e backslash\n"},
        // A line starting with a dot or quote would be read as a request.
        {"x\n.profile and\n'quoted'\n", "x\n\\&.profile and\n\\&'quoted'\n"},
        // Paragraphs: one break between, none before or after.
        {"\none\n\n\ntwo\n\n", "one\n.PP\ntwo\n"},
        // Indented lines would break the fill.
        {"   indented\n", "indented\n"},
        {"", ""},
    };
    for (const auto& [plain, roff] : cases) EXPECT_EQ(docs::roffText(plain), roff) << plain;
}

TEST(ToolDocsHelpText, UsagesAndDescriptionApart) {
    docs::HelpText text = docs::splitHelpText(
        "usage: corvane x [--a]\n"
        "       corvane x -c [--quiet]\n"
        "                    [LIST...]\n"
        "What x does,\n"
        "  in two lines.\n");
    EXPECT_EQ(text.usages, (std::vector<std::string>{"corvane x [--a]", "corvane x -c [--quiet] [LIST...]"}));
    EXPECT_EQ(text.description, "What x does,\n  in two lines.\n");
    EXPECT_TRUE(docs::splitHelpText("No usage.\n").usages.empty());
}

std::string roffSpelling(const std::string& spelling) {
    std::string roff = docs::roffText(spelling + "\n");
    return roff.substr(0, roff.size() - 1);
}

TEST(ToolDocsManual, EverySectionListsItsOwnOptions) {
    const ToolDoc tool = describeTool();
    const std::string page = docs::manualPage(
        ".TH X 1\n.SH SYNOPSIS\n@CORVANE_SYNOPSIS@\n.SH OPTIONS\n@CORVANE_OPTIONS@\n.SH COMMANDS\n"
        "@CORVANE_COMMANDS@\n.SH KEPT\nkept as written\n",
        tool);
    EXPECT_EQ(page.find("@CORVANE_"), std::string::npos);
    EXPECT_NE(page.find(".SH KEPT\nkept as written\n"), std::string::npos);
    EXPECT_NE(page.find(".BI \"\\-\\-outform \" pem|der\n"), std::string::npos);

    // Seven commands, eleven actions.
    ASSERT_EQ(tool.commands.size(), 18u);
    for (const CommandDoc& command : tool.commands) {
        std::size_t start = page.find(".SS \"" + command.path + "\"\n");
        ASSERT_NE(start, std::string::npos) << command.path;
        const std::string section = page.substr(start, page.find("\n.S", start + 1) - start);
        std::size_t entries = 0, options = 0;
        for (std::size_t at = 0; (at = section.find(".TP\n.B", at)) != std::string::npos; ++at) ++entries;
        // -h/--help is said once for all.
        for (const OptionDoc& option : command.options) {
            if (option.isHelp) continue;
            ++options;
            const std::string longName = roffSpelling(option.spellings.back());
            EXPECT_NE(section.find(longName), std::string::npos) << command.path << " " << longName;
        }
        EXPECT_EQ(entries, options) << command.path;
    }
}

}  // namespace
