// corvane base64 [-d] [--web-safe] [--no-padding] [FILE]
#include "base64_text.h"
#include "commands.h"
#include "options.h"
#include "tool_error.h"

namespace corvane::tool {

namespace {

const char kHelp[] =
    "usage: corvane base64 [-d] [--web-safe] [--no-padding] [FILE]\n"
    "Encodes FILE (standard input for none or \"-\") as Base64 on one line with a\n"
    "line end, or decodes it with -d. Decoding skips whitespace, so wrapped text\n"
    "and a trailing line end are fine; anything else outside the alphabet fails.\n"
    "\n"
    "  -d, --decode   decode instead of encode; the bytes are written as they are\n"
    "  --web-safe     the URL- and filename-safe alphabet (\"-\" and \"_\")\n"
    "  --no-padding   with --web-safe: leave out the \"=\" padding when encoding\n"
    "                 (web-safe decoding accepts text with or without it; the\n"
    "                 standard alphabet is always padded)\n"
    "\n"
    "Exit status: 0 success, 1 unreadable input or invalid Base64, 2 usage error.\n";

}  // namespace

int runBase64(const Args& args) {
    bool decode = false;
    bool webSafe = false;
    bool noPadding = false;
    Options options("base64", kHelp);
    options.flag({"--decode", "-d"}, decode).flag({"--web-safe"}, webSafe).flag({"--no-padding"}, noPadding);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(1);
    if (noPadding && !webSafe) options.fail("--no-padding needs --web-safe (standard Base64 is always padded)");
    if (noPadding && decode) options.fail("--no-padding applies to encoding only");

    Base64Family family = webSafe ? Base64Family::webSafe : Base64Family::standard;
    Bytes input = readInput(options.positional());
    if (decode) {
        auto bytes = base64Decode(input, family);
        if (!bytes) failure(webSafe ? "input is not valid web-safe Base64" : "input is not valid Base64");
        writeBytes(*bytes);
        return kExitOk;
    }
    std::string text = base64Encode(input, family, !noPadding);
    if (!text.empty()) writeText(text + "\n");
    return kExitOk;
}

}  // namespace corvane::tool
