// corvane base64 [-d [-i]] [--web-safe] [--no-padding] [-w COLS] [FILE]
#include <charconv>
#include <string_view>

#include "tools/corvane/commands/commands.h"
#include "tools/corvane/io/base64_stream.h"
#include "tools/corvane/options/options.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

const char kHelp[] =
    "usage: corvane base64 [-d [-i]] [--web-safe] [--no-padding] [-w COLS] [FILE]\n"
    "Encodes FILE (standard input for none or \"-\") as Base64 on one line with a\n"
    "line end, or decodes it with -d. Input of any size is coded in pieces, in\n"
    "bounded memory; the result is that of coding the whole input at once.\n"
    "\n"
    "Decoding skips whitespace anywhere: space, tab, line feed, carriage return,\n"
    "vertical tab, form feed, and the bytes 0xA0 and 0xFF. Input made only of\n"
    "whitespace decodes to nothing. Without -i, any other byte outside the\n"
    "alphabet fails, a NUL byte included, and so does text that is not canonical\n"
    "Base64: a pad followed by more text, a last character with leftover bits\n"
    "set, a lone last character, or (standard alphabet) a missing pad. When\n"
    "decoding fails half-way, what was written before is incomplete.\n"
    "\n"
    "Exit status: 0 success, 1 unreadable input or invalid Base64, 2 usage error.\n";

// COLS as coreutils takes it: a decimal count, 0 for no wrapping.
std::size_t wrapColumns(const Options& options, const std::string& text) {
    std::size_t columns = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), columns);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        options.fail("invalid wrap size: " + text);
    return columns;
}

}  // namespace

int runBase64(const Args& args) {
    bool decode = false;
    bool ignoreGarbage = false;
    bool webSafe = false;
    bool noPadding = false;
    bool progress = false;
    std::optional<std::string> wrap;
    Options options("base64", kHelp);
    options.flag({"--decode", "-d"}, decode, "decode instead of encode; the bytes are written as they are")
        .flag({"--ignore-garbage", "-i"}, ignoreGarbage,
              "with -d: drop every byte outside the alphabet and \"=\" before decoding")
        .value({"--wrap", "-w"}, wrap,
               {"end a line after every COLS characters when encoding; 0 (the default) writes one line", "COLS",
                {"0", "64", "76"}})
        .flag({"--web-safe"}, webSafe, "the URL- and filename-safe alphabet (\"-\" and \"_\")")
        .flag({"--no-padding"}, noPadding,
              "with --web-safe: leave out the \"=\" padding when encoding (web-safe decoding accepts text with "
              "or without it; the standard alphabet is always padded)")
        .flag({"--progress"}, progress, kProgressHelp);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(1);
    if (noPadding && !webSafe)
        options.fail("--no-padding needs --web-safe (standard Base64 is always padded)");
    if (noPadding && decode) options.fail("--no-padding applies to encoding only");
    if (wrap && decode) options.fail("--wrap applies to encoding only");
    if (ignoreGarbage && !decode) options.fail("--ignore-garbage applies to decoding only");
    std::size_t columns = wrap ? wrapColumns(options, *wrap) : 0;

    Base64Family family = webSafe ? Base64Family::webSafe : Base64Family::standard;
    StdoutSink out;
    if (decode) {
        Base64DecodeStage decoder(family, ignoreGarbage,
                                  webSafe ? "input is not valid web-safe Base64" : "input is not valid Base64",
                                  out);
        pumpInput(options.positional(), decoder, progress);
    } else {
        Base64EncodeStage encoder(family, !noPadding, columns, out);
        pumpInput(options.positional(), encoder, progress);
    }
    return kExitOk;
}

}  // namespace corvane::tool
