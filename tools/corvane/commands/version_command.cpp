// corvane version: the library's version number and string; corvane
// --version: the tool's version alone, on one line, as tools print it.
#include <Corvane/CorvaneVersion.h>

#include <charconv>
#include <cstring>
#include <string>

#include "tools/corvane/commands/commands.h"
#include "tools/corvane/io/io.h"
#include "tools/corvane/options/options.h"

namespace corvane::tool {

namespace {

const char kHelp[] =
    "usage: corvane version\n"
    "Prints the version number of the library the tool runs with, then the text\n"
    "of its version string (without the \"@(#)\" marker and the line end it\n"
    "carries). corvane --version prints the tool's own version.\n";

// Shortest form that reads back as the same double, always with a fraction
// ("1.0", not "1").
std::string formatVersionNumber(double number) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
    std::string text = ec == std::errc() ? std::string(buffer, end) : std::string("?");
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

// The string's text as stored, minus the "@(#)" what-marker in front and
// the line end at the back.
std::string versionText() {
    std::string text(reinterpret_cast<const char*>(CorvaneVersionString));
    if (text.rfind("@(#)", 0) == 0) text.erase(0, 4);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

int runToolVersion() {
    writeText(std::string("corvane ") + CORVANE_TOOL_VERSION + "\n");
    return kExitOk;
}

int runVersion(const Args& args) {
    Options options("version", kHelp);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(0);
    writeText("Corvane " + formatVersionNumber(CorvaneVersionNumber) + "\n" + versionText() + "\n");
    return kExitOk;
}

}  // namespace corvane::tool
