// corvane version: the library's two version symbols; corvane --version:
// the tool's version and the library's.
#include <Corvane/CorvaneVersion.h>

#include <charconv>
#include <cstring>
#include <string>

#include "commands.h"
#include "io.h"
#include "options.h"

namespace corvane::tool {

namespace {

const char kHelp[] =
    "usage: corvane version\n"
    "Prints the library's version number (CorvaneVersionNumber) and the text of\n"
    "its version string (CorvaneVersionString, without the \"@(#)\" marker and\n"
    "the line end it carries).\n";

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
    writeText(std::string("corvane ") + CORVANE_TOOL_VERSION + "\nCorvane " +
              formatVersionNumber(CorvaneVersionNumber) + " (" + versionText() + ")\n");
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
