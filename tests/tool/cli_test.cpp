// The corvane tool run as users run it: exit statuses, one-line error
// messages, and its results checked against the openssl command-line tool
// and coreutils' base64 and md5sum on the same inputs. The streaming
// commands and the RSA actions have test programs of their own
// (cli_stream_test, cli_rsa_test).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/cli/cli_tool.h"
#include "tests/support/cli/tool_key_suite.h"
#include "tests/support/rsa/openssl_key_files.h"
#include "tests/support/test_support.h"

using namespace corvane::test;

namespace {

// The tool's runner, by its short name (the namespace corvane would hide it).
using corvane::test::corvane;

std::string strip(std::string s, char c) {
    s.erase(std::remove(s.begin(), s.end(), c), s.end());
    return s;
}

std::string webSafe(std::string s) {
    std::replace(s.begin(), s.end(), '+', '-');
    std::replace(s.begin(), s.end(), '/', '_');
    return s;
}

// ---------------------------------------------------------------------------
// Command line

TEST(CliUsage, EveryCommandAndActionHasHelp) {
    REQUIRE_TOOL();
    for (const auto& args : std::vector<std::vector<std::string>>{{"--help"},
                                                                  {"md5", "--help"},
                                                                  {"base64", "-h"},
                                                                  {"rsa", "--help"},
                                                                  {"rsa", "encrypt", "--help"},
                                                                  {"rsa", "decrypt", "--help"},
                                                                  {"rsa", "sign", "--help"},
                                                                  {"rsa", "recover", "-h"},
                                                                  {"rsa", "key", "--help"},
                                                                  {"rsa", "keygen", "--help"},
                                                                  {"des3", "--help"},
                                                                  {"des3", "encrypt", "--help"},
                                                                  {"des3", "decrypt", "--help"},
                                                                  {"des3", "keygen", "--help"},
                                                                  {"demo", "--help"},
                                                                  {"version", "--help"}}) {
        RunResult r = corvane(args);
        EXPECT_EQ(r.exitStatus, 0) << describe(args);
        EXPECT_EQ(r.out.rfind("usage: corvane", 0), 0u) << describe(args) << "\n" << r.out;
        EXPECT_EQ(r.err, "") << describe(args);
    }
}

TEST(CliUsage, MalformedCommandLinesExitTwoWithOneLine) {
    REQUIRE_TOOL();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"nosuch"}, "unknown command nosuch"},
        {{"md5", "--bogus"}, "unknown option --bogus"},
        {{"base64", "--bogus"}, "unknown option --bogus"},
        {{"base64", "--no-padding"}, "--web-safe"},
        {{"base64", "-d", "a", "b"}, "too many arguments"},
        {{"base64", "-d", "-d"}, "given twice"},
        {{"rsa"}, "needs an action"},
        {{"rsa", "verify"}, "unknown action verify"},
        {{"rsa", "sign", "--message", "x"}, "a private key is needed"},
        {{"rsa", "recover"}, "a key is needed"},
        {{"rsa", "recover", "--pubkey", "k", "--exponent", "03"}, "not both"},
        {{"rsa", "key"}, "a key file is needed"},
        {{"rsa", "key", "a", "b"}, "too many arguments"},
        {{"rsa", "keygen", "--out", "k", "--bits", "2048"}, "--bits takes 512 to 1024"},
        {{"rsa", "keygen", "--out", "k", "--bits", "511"}, "--bits takes 512 to 1024"},
        {{"rsa", "keygen", "--out", "k", "--bits=1k"}, "--bits takes 512 to 1024"},
        {{"rsa", "keygen"}, "--out FILE"},
        {{"rsa", "keygen", "--out", "-"}, "never written to standard output"},
        {{"rsa", "decrypt", "--key", "-"}, "both come from standard input"},
        {{"rsa", "sign", "--key", "-", "-"}, "both come from standard input"},
        {{"rsa", "decrypt", "--key", "k", "--passphrase-file"}, "needs a value"},
        {{"rsa", "decrypt", "--key", "k", "--passphrase", "x"}, "unknown option --passphrase"},
        {{"md5", "--quiet"}, "--quiet goes with -c"},
        {{"md5", "--status", "f"}, "--status goes with -c"},
        {{"md5", "-c", "--quiet", "--status"}, "not both"},
        {{"base64", "-w", "x"}, "invalid wrap size: x"},
        {{"base64", "--wrap=-1"}, "invalid wrap size: -1"},
        {{"base64", "-d", "-w", "76"}, "encoding only"},
        {{"base64", "-i"}, "decoding only"},
        {{"base64", "--decode=yes"}, "takes no value"},
        {{"base64", "--wrap", "4", "--wrap=5"}, "given twice"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"rsa", "encrypt", "--message", "x"}, "a key is needed"},
        {{"rsa", "encrypt", "--modulus", "ab", "--message", "x"}, "go together"},
        {{"rsa", "encrypt", "--modulus", "zz", "--exponent", "03", "--message", "x"},
         "not a hexadecimal number"},
        {{"rsa", "encrypt", "--modulus", "ab", "--exponent", "0x3", "--message", "x"},
         "not a hexadecimal number"},
        {{"rsa", "encrypt", "--pubkey"}, "needs a value"},
        {{"rsa", "encrypt", "--pubkey", "k", "--modulus", "ab", "--exponent", "03"}, "not both"},
        {{"rsa", "encrypt", "--pubkey", "k", "--message", "x", "file"}, "unexpected argument"},
        {{"rsa", "decrypt"}, "--key FILE"},
        {{"des3"}, "needs an action"},
        {{"des3", "encrypt"}, "a key is needed"},
        {{"des3", "encrypt", "--key-hex", "abc"}, "even number"},
        {{"des3", "encrypt", "--key-hex", "zz"},
         "--key-hex holds a character that is not a hexadecimal digit at offset 0"},
        {{"des3", "encrypt", "--key-hex", "00112g"}, "not a hexadecimal digit at offset 5"},
        {{"des3", "encrypt", "--key-hex", "0011 22"}, "not a hexadecimal digit at offset 4"},
        {{"des3", "encrypt", "--key", "k", "--iv-hex", "0x11"},
         "--iv-hex holds a character that is not a hexadecimal digit at offset 1"},
        {{"des3", "decrypt", "--key", "k", "--key-hex", "00"}, "not both"},
        {{"des3", "decrypt", "--key-file", "k", "--key-env", "K"}, "not both"},
        {{"des3", "encrypt", "--key", "k", "--iv-env", "V", "--iv-hex-file", "f"}, "not both"},
        {{"des3", "encrypt", "--key=a", "--key=b"}, "given twice"},
        {{"des3", "encrypt", "--key-file"}, "needs a value"},
        {{"des3", "encrypt", "--key", "0123456789abcdef012345678"}, "at most 24"},
        {{"des3", "encrypt", "--key", ""}, "empty"},
        {{"des3", "encrypt", "--key", "k", "--iv", "123456789"}, "at most 8"},
        {{"des3", "keygen", "extra"}, "unexpected argument"},
        {{"demo", "now"}, "unexpected argument"},
        {{"version", "--verbose"}, "unknown option"},
    };
    for (const auto& [args, fragment] : cases) expectFailure(corvane(args), 2, fragment, describe(args));

    RunResult none = corvane({});
    EXPECT_EQ(none.exitStatus, 2);
    EXPECT_NE(none.err.find("usage: corvane"), std::string::npos);
}

TEST(CliUsage, WriteErrorIsAFailure) {
    REQUIRE_TOOL();
    RunResult r = runProgram({kTool, "base64"}, "some bytes", "/dev/full");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("write error"), std::string::npos) << r.err;
}

TEST(CliUsage, TopLevelHelpAndVersion) {
    REQUIRE_TOOL();
    for (const char* help : {"-h", "--help", "help"}) {
        RunResult r = corvane({help});
        EXPECT_EQ(r.exitStatus, 0) << help;
        EXPECT_EQ(r.out.rfind("usage: corvane <command>", 0), 0u) << help;
        for (const char* command : {"md5", "base64", "rsa", "des3", "demo", "version", "--version"})
            EXPECT_NE(r.out.find(command), std::string::npos) << help << " does not mention " << command;
    }
    // The tool's version, on one line.
    RunResult version = corvane({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out, "corvane 1.0.0\n");
    EXPECT_EQ(version.err, "");
}

// "--opt=value", "-oVALUE" and "--" as the end of options, in every kind of
// command: each spelling gives what the plain one gives.
TEST(CliUsage, EqualsFormsAndDoubleDashWorkEverywhere) {
    REQUIRE_TOOL();
    TempDir dir;
    const std::string dashFile = dir.write("-file", "data that starts with a dash");
    const std::string key = "0123456789abcdef0123456789abcdef0123456789abcdef", iv = "0011223344556677";
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> same = {
        {{"md5", "--", dashFile}, {"md5", dashFile}},
        {{"base64", "--wrap=8", "--", dashFile}, {"base64", "-w", "8", dashFile}},
        {{"base64", "-w8", dashFile}, {"base64", "--wrap", "8", dashFile}},
        {{"des3", "encrypt", "--key-hex=" + key, "--iv-hex=" + iv, "--raw", "--", dashFile},
         {"des3", "encrypt", "--key-hex", key, "--iv-hex", iv, "--raw", dashFile}},
        {{"rsa", "keygen", "--bits=512", "--out=" + dir.file("k1")}, {}},
    };
    for (const auto& [spelled, plain] : same) {
        RunResult a = corvane(spelled);
        EXPECT_EQ(a.exitStatus, 0) << describe(spelled) << "\n" << a.err;
        if (!plain.empty()) {
            EXPECT_EQ(a.out, corvane(plain).out) << describe(spelled);
        }
    }
    RunResult encrypt = corvane({"rsa", "encrypt", "--pubkey=" + dir.file("k1"), "--message=hi", "--raw"});
    ASSERT_EQ(encrypt.exitStatus, 0) << encrypt.err;
    RunResult decrypt =
        corvane({"rsa", "decrypt", "--key=" + dir.file("k1"), "--raw", "--", "-"}, encrypt.out);
    EXPECT_EQ(decrypt.out, "hi") << decrypt.err;
}

// What users read names no old spelling of an option (still taken), nor the
// library's classes, methods and symbols.
void expectNoHiddenName(const std::string& text, const std::string& where) {
    std::smatch found;
    EXPECT_FALSE(std::regex_search(text, found, std::regex("--pass(phrase|-out)?-(file|env|prompt)|QV[A-Z_]|"
                                                            "NS[A-Z][a-z]|\\b(set|create)[A-Z]|PROGRAM:")))
        << where << ": " << found.str();
}

// Every long option that a help text names is in the manual page and in
// the bash completion the build makes, and none of the three names what
// expectNoHiddenName refuses; the page formats without a warning, the
// completion script parses and completes.
TEST(CliUsage, ManualAndCompletionCoverEveryOption) {
    REQUIRE_TOOL();
#ifndef CORVANE_TOOL_DOCS_DIR
    GTEST_SKIP() << "this build makes no manual page and completion";
#else
    const std::string sources = CORVANE_TOOL_DOCS_DIR;
    std::string manual = readTextFile(sources + "/corvane.1");
    for (std::size_t at = 0; (at = manual.find("\\-", at)) != std::string::npos;) manual.erase(at, 1);
    const std::string completion = readTextFile(sources + "/corvane.bash");
    expectNoHiddenName(manual, "corvane.1");
    expectNoHiddenName(completion, "corvane.bash");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"md5", "-h"}, {"base64", "-h"}, {"rsa", "-h"}, {"des3", "-h"}, {"demo", "-h"},
             {"rsa", "encrypt", "-h"}, {"rsa", "decrypt", "-h"}, {"rsa", "sign", "-h"}, {"rsa", "recover", "-h"},
             {"rsa", "key", "-h"}, {"rsa", "keygen", "-h"}, {"des3", "encrypt", "-h"}, {"des3", "decrypt", "-h"},
             {"envelope", "open", "-h"}, {"envelope", "seal", "-h"}, {"version", "-h"}, {"--version"}}) {
        const std::string help = corvane(args).out;
        expectNoHiddenName(help, describe(args));
        for (std::size_t at = 0; (at = help.find("--", at)) != std::string::npos;) {
            std::size_t end = help.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-", at + 2);
            std::string option = help.substr(at, end - at);
            at = end;
            if (option.size() < 4) continue;  // "--" alone
            EXPECT_NE(manual.find(option), std::string::npos) << option << " is not in corvane.1";
            bool completed = false;
            for (std::size_t c = 0; !completed && (c = completion.find(option, c)) != std::string::npos;)
                completed = std::string(" \"").find(completion[c += option.size()]) != std::string::npos;
            EXPECT_TRUE(completed) << option << " is not in corvane.bash";
        }
    }
    RunResult groff =
        runProgram({"sh", "-c", "command -v groff >/dev/null || exit 77; groff -man -ww -z \"$0\"",
                    sources + "/corvane.1"});
    if (groff.exitStatus != 77) {
        EXPECT_EQ(groff.exitStatus, 0);
        EXPECT_EQ(groff.err, "") << "groff's warnings on corvane.1";
    }
    auto complete = [&](const std::string& line) {
        std::string script = "source \"$0\"; COMP_WORDS=(" + line +
                             "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
                             "_corvane; echo \"${COMPREPLY[*]}\"";
        return runProgram({"bash", "-c", script, sources + "/corvane.bash"}).out;
    };
    EXPECT_EQ(complete("corvane ba"), "base64\n");
    EXPECT_EQ(complete("corvane rsa ke"), "key keygen\n");
    EXPECT_EQ(complete("corvane des3 encrypt --iv-hex-"), "--iv-hex-file --iv-hex-env\n");
    EXPECT_EQ(complete("corvane rsa keygen --bits 5"), "512\n");
    EXPECT_EQ(complete("corvane md5 --st"), "--status --strict\n");
    EXPECT_EQ(complete("corvane md5 --ig"), "--ignore-missing\n");
#endif
}

// The long options in the "options:" list of a help text.
std::vector<std::string> listedOptions(const std::string& help) {
    std::vector<std::string> options;
    std::size_t at = help.find("\noptions:\n");
    for (at = at == std::string::npos ? help.size() : at; (at = help.find("\n  -", at)) != std::string::npos;) {
        std::size_t end = help.find('\n', at + 1);
        std::string line = help.substr(at + 1, end - at - 1);
        for (std::size_t o = 0; (o = line.find("--", o)) != std::string::npos && o < 32;) {
            std::size_t stop = line.find_first_of(" ,", o);
            options.push_back(line.substr(o, stop - o));
            o = stop;
        }
        at = end;
    }
    return options;
}

// An action's --help lists its own options, every one of which it takes,
// and none that only its sibling actions take.
TEST(CliUsage, ActionHelpListsItsOwnOptionsOnly) {
    REQUIRE_TOOL();
    const std::map<std::string, std::vector<std::string>> families = {
        {"rsa", {"encrypt", "decrypt", "sign", "recover", "key", "keygen"}},
        {"des3", {"encrypt", "decrypt", "keygen"}}};
    for (const auto& [command, actions] : families) {
        std::map<std::string, std::vector<std::string>> listed;
        for (const std::string& action : actions) {
            listed[action] = listedOptions(corvane({command, action, "--help"}).out);
            EXPECT_FALSE(listed[action].empty()) << command << " " << action;
        }
        // Each option any action of the family lists, once, with the first
        // action that lists it (every run is a process; under a sanitizer a
        // slow one).
        std::map<std::string, std::string> familyOptions;
        for (const auto& [sibling, options] : listed)
            for (const std::string& option : options) familyOptions.emplace(option, sibling);
        for (const std::string& action : actions) {
            const auto& own = listed[action];
            for (const auto& [option, sibling] : familyOptions) {
                bool isOwn = std::find(own.begin(), own.end(), option) != own.end();
                // A value no command can act on: no file is written, no input read.
                RunResult r = corvane({command, action, option, "/nonexistent/x"});
                EXPECT_EQ(r.err.find("unknown option " + option) == std::string::npos, isOwn)
                    << command << " " << action << " " << option << " (listed by " << sibling << ")\n"
                    << r.err;
            }
        }
    }
    // The page of rsa encrypt, the one users met first, by name.
    const std::vector<std::string> encrypt = listedOptions(corvane({"rsa", "encrypt", "--help"}).out);
    for (const char* other : {"--key", "--bits", "--out", "--outform", "--pass-out-file", "--text"})
        EXPECT_EQ(std::find(encrypt.begin(), encrypt.end(), other), encrypt.end()) << other;
}

// Each kind of malformed command line CLI11 reports, in the tool's words,
// with exit status 2 and nothing on standard output.
TEST(CliUsage, EachKindOfUsageErrorHasItsMessage) {
    REQUIRE_TOOL();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        // an option nobody declared
        {{"md5", "--bogus"}, "md5: unknown option --bogus (see corvane md5 --help)"},
        {{"rsa", "encrypt", "--bits", "512"}, "rsa: unknown option --bits (see corvane rsa encrypt --help)"},
        // a value missing, by long and short spelling
        {{"base64", "--wrap"}, "base64: option --wrap needs a value (see corvane base64 --help)"},
        {{"base64", "-d", "-w"}, "base64: option --wrap needs a value (see corvane base64 --help)"},
        {{"base64", "-dw"}, "base64: option --wrap needs a value (see corvane base64 --help)"},
        {{"rsa", "keygen", "--out"}, "rsa: option --out needs a value (see corvane rsa keygen --help)"},
        // a value given to a flag
        {{"md5", "--tag=yes"}, "md5: option --tag takes no value (see corvane md5 --help)"},
        {{"des3", "encrypt", "--raw=1"}, "des3: option --raw takes no value (see corvane des3 encrypt --help)"},
        // an option given twice
        {{"md5", "-z", "--zero"}, "md5: option --zero given twice (see corvane md5 --help)"},
        {{"rsa", "key", "--outform", "pem", "--outform=der", "k"},
         "rsa: option --outform given twice (see corvane rsa key --help)"},
        // arguments beyond those taken
        {{"des3", "keygen", "now"}, "des3: unexpected argument now (see corvane des3 keygen --help)"},
        // commands and actions
        {{"rsa"}, "rsa: needs an action: encrypt, decrypt, sign, recover, key or keygen (see corvane rsa --help)"},
        {{"des3", "wrap"}, "des3: unknown action wrap (see corvane des3 --help)"},
        {{"--bogus"}, "unknown option --bogus (see corvane --help)"},
        {{"frobnicate"}, "unknown command frobnicate (see corvane --help)"},
    };
    for (const auto& [args, message] : cases) {
        RunResult r = corvane(args);
        EXPECT_EQ(r.exitStatus, 2) << describe(args);
        EXPECT_EQ(r.err, "corvane: " + message + "\n") << describe(args);
        EXPECT_EQ(r.out, "") << describe(args);
    }
}

// The completion the build made offers each action the options its --help
// lists, and for an option's value what that option takes: file names,
// variable names, suggested words, or nothing.
TEST(CliUsage, CompletionFollowsEachCommandsOptions) {
    REQUIRE_TOOL();
#ifndef CORVANE_TOOL_DOCS_DIR
    GTEST_SKIP() << "this build makes no completion";
#else
    const std::string script = std::string(CORVANE_TOOL_DOCS_DIR) + "/corvane.bash";
    auto complete = [&](const std::string& line) {
        std::string program = "source \"$0\"; COMP_WORDS=(" + line +
                               "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
                               "_corvane; echo \"${COMPREPLY[*]}\"";
        return runProgram({"bash", "-c", program, script}).out;
    };
    for (const std::string leaf : {"md5", "base64", "rsa encrypt", "rsa decrypt", "rsa sign", "rsa recover",
                                   "rsa key", "rsa keygen", "des3 encrypt", "des3 decrypt", "des3 keygen"}) {
        std::vector<std::string> args{};
        for (std::size_t at = 0, end; at <= leaf.size(); at = end + 1) {
            end = std::min(leaf.find(' ', at), leaf.size());
            args.push_back(leaf.substr(at, end - at));
        }
        args.push_back("--help");
        std::string offered = " " + complete("corvane " + leaf + " --");
        offered.back() = ' ';
        for (const std::string& option : listedOptions(corvane(args).out))
            EXPECT_NE(offered.find(" " + option + " "), std::string::npos) << leaf << ": " << option;
    }

    TempDir dir;
    dir.write("abc", "");
    ScopedEnvironment environment;
    environment.set("CORVANE_COMPLETION_PROBE", "1");
    const std::vector<std::pair<std::string, std::string>> values = {
        {"corvane base64 -w ''", "0 64 76\n"},
        {"corvane base64 --wrap 6", "64\n"},
        {"corvane rsa key --outform ''", "pem der\n"},
        {"corvane des3 decrypt --md sha5", "sha512\n"},
        {"corvane des3 encrypt --key-env CORVANE_COMPLETION_PR", "CORVANE_COMPLETION_PROBE\n"},
        {"corvane rsa keygen --out " + dir.file("ab"), dir.file("abc") + "\n"},
        // md5's -w is --warn, a flag: the word after it is a file.
        {"corvane md5 -w " + dir.file("ab"), dir.file("abc") + "\n"},
        {"corvane rsa encrypt --message " + dir.file("ab"), "\n"},
        {"corvane des3 keygen --", "--help\n"},
    };
    for (const auto& [line, expected] : values) EXPECT_EQ(complete(line), expected) << line;
#endif
}

TEST(CliVersion, ShowsBothVersionSymbols) {
    REQUIRE_TOOL();
    RunResult r = corvane({"version"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "Corvane 1.0\nPROGRAM:Corvane  PROJECT:Corvane-1\n");
}

TEST(CliDemo, EveryRoundTripMatches) {
    REQUIRE_TOOL();
    RunResult r = corvane({"demo"});
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("DEMONSTRATION"), std::string::npos);
    EXPECT_NE(r.out.find("All round trips matched."), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("MISMATCH"), std::string::npos) << r.out;
    expectNoHiddenName(r.out, "demo");
}

// ---------------------------------------------------------------------------
// md5

TEST(CliMd5, AgreesWithOpensslDgst) {
    REQUIRE_TOOL();
    TempDir dir;
    Rng rng(0x3d5);
    std::vector<std::string> args = {"md5"};
    for (std::size_t n : {0u, 1u, 55u, 56u, 64u, 65u, 1000u, 200000u})
        args.push_back(dir.write("f" + std::to_string(n), randomText(rng, n)));
    RunResult r = corvane(args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::string expected;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string line = oracle({"openssl", "dgst", "-md5", "-r", args[i]});  // "<hex> *<name>"
        expected += line.substr(0, 32) + "  " + args[i] + "\n";
    }
    EXPECT_EQ(r.out, expected);

    std::string data = randomText(rng, 777);
    EXPECT_EQ(corvane({"md5"}, data).out,
              oracle({"openssl", "dgst", "-md5", "-r"}, data).substr(0, 32) + "  -\n");
}

TEST(CliMd5, EscapesFileNamesAsMd5sumDoes) {
    REQUIRE_TOOL();
    TempDir dir;
    std::vector<std::string> args = {"md5", "--"};
    for (const char* name : {"plain", "back\\slash", "line\nfeed", "carriage\rreturn", "-dash"})
        args.push_back(dir.write(name, name));
    RunResult r = corvane(args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::vector<std::string> md5sum(args.begin() + 1, args.end());
    md5sum.insert(md5sum.begin(), "md5sum");
    EXPECT_EQ(r.out, oracle(md5sum));
}

TEST(CliMd5, UnreadableFileFailsButOthersAreStillDigested) {
    REQUIRE_TOOL();
    TempDir dir;
    std::string good = dir.write("good", "abc");
    RunResult r = corvane({"md5", dir.file("missing"), good});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "900150983cd24fb0d6963f7d28e17f72  " + good + "\n");
    EXPECT_NE(r.err.find("missing"), std::string::npos);
}

// md5 -c beside md5sum -c on the same lists: good, bad, missing and
// malformed lines, the two other line forms, escaped names, several lists
// and standard input; the same lines on standard output, the same
// diagnostics on standard error (after the program's own prefix), the same
// exit status.
TEST(CliMd5, CheckAgreesWithMd5sum) {
    REQUIRE_TOOL();
    TempDir dir;
    std::string a = dir.write("a", "abc"), b = dir.write("b", "xyz"), odd = dir.write("odd\nname\\", "odd");
    const std::string abc = "900150983cd24fb0d6963f7d28e17f72", zeros(32, '0');
    auto list = [&](const std::string& name, const std::string& lines) { return dir.write(name, lines); };
    std::string good = list("good", oracle({"md5sum", a, b, odd}));
    std::string mixed =
        list("mixed", abc + "  " + a + "\n" +                                  // OK
                          zeros + "  " + b + "\n" +                            // FAILED
                          zeros + "  " + dir.file("absent") + "\n" +           // cannot be read
                          "not a digest line\n" +                              // improper
                          abc + "  \n" +                                       // no name
                          "\n# a comment\n" +                                  // passed over
                          "MD5 (" + a + ") = " + abc + "\n" +                  // BSD form
                          "900150983CD24FB0D6963F7D28E17F72 *" + a + "\r\n" +  // binary mark, CRLF
                          abc.substr(1) + "  " + a + "\n");                    // 31 digits
    std::string junk = list("junk", "junk\n");
    std::string noEnd = list("noend", abc + "  " + a);

    const std::vector<std::vector<std::string>> runs = {
        {good}, {mixed}, {junk}, {noEnd}, {good, mixed}, {dir.file("absent-list")}, {"-"},
    };
    for (const auto& lists : runs) {
        for (const std::vector<std::string>& flags :
             std::vector<std::vector<std::string>>{{}, {"--quiet"}, {"--status"}}) {
            std::vector<std::string> ours = {"md5", "-c"}, theirs = {"md5sum", "-c"};
            ours.insert(ours.end(), flags.begin(), flags.end());
            theirs.insert(theirs.end(), flags.begin(), flags.end());
            ours.insert(ours.end(), lists.begin(), lists.end());
            theirs.insert(theirs.end(), lists.begin(), lists.end());
            const std::string in = readTextFile(mixed);
            RunResult r = corvane(ours, in), expected = runProgram(theirs, in);
            SCOPED_TRACE(describe(theirs));
            EXPECT_EQ(r.exitStatus, expected.exitStatus);
            EXPECT_EQ(r.out, expected.out);
            // md5sum quotes names in its diagnostics as a shell would; these have no blanks to quote.
            auto unprefix = [](std::string text, const std::string& prefix) {
                for (std::size_t at = 0; (at = text.find(prefix, at)) != std::string::npos;)
                    text.erase(at, prefix.size());
                return text;
            };
            EXPECT_EQ(unprefix(r.err, "corvane: md5: "), unprefix(expected.err, "md5sum: "));
        }
    }
}

// --tag, -z and the check options beside md5sum's on a table of lists:
// the same standard output, the same diagnostics after the program's prefix
// (list names quoted as md5sum quotes them), the same exit status.
TEST(CliMd5, OptionsAgreeWithMd5sum) {
    REQUIRE_TOOL();
    TempDir dir;
    std::string a = dir.write("a", "abc"), odd = dir.write("odd\nname", "odd");
    const std::string abc = "900150983cd24fb0d6963f7d28e17f72", zeros(32, '0');
    const std::string gnu = dir.write("gnu", abc + "  " + a + "\n");
    const std::string tagged = dir.write("tagged", oracle({"md5sum", "--tag", a, odd}));
    const std::string openssl = dir.write("openssl", oracle({"openssl", "dgst", "-md5", a}));
    const std::string variants =
        dir.write("variants", "MD5(" + a + ")=  " + abc + "\n" + "MD5 (" + a + ")  =" + abc + "\n" +
                                  " MD5 (" + a + ") = " + abc + "\n" + "MD5  (" + a + ") = " + abc + "\n" +
                                  "MD5 (" + a + ") = " + abc + " \n" + "SHA1 (" + a + ") = " + abc + "\n");
    const std::string improper = dir.write("improper", abc + "  " + a + "\njunk\n   \n  # not a comment\n#comment\n");
    const std::string missing = dir.write("missing", abc + "  " + dir.file("absent") + "\n");
    const std::string someMissing =
        dir.write("some missing", abc + "  " + a + "\n" + abc + "  " + dir.file("absent") + "\n");
    const std::string mismatchAndMissing =
        dir.write("mismatch", zeros + "  " + a + "\n" + abc + "  " + dir.file("absent") + "\n");
    const std::string junk = dir.write("junk", "junk\n");
    const std::string starred = dir.write("starred", oracle({"md5sum", "-b", a, odd}));
    const std::vector<std::vector<std::string>> runs = {
        {"--tag", a, odd},
        {"-b", a, odd},
        {"-t", "--", a, odd, "-"},
        {"--binary", "--tag", a},
        {"-bz", a, odd},
        {"-c", starred},
        {"-z", a, odd},
        {"--zero", "--tag", a, odd},
        {"-c", tagged},
        {"-c", openssl},
        {"-c", "-w", variants},
        {"-c", "-w", improper},
        {"-c", "--warn", junk},
        {"-c", "--strict", improper},
        {"-c", "--strict", gnu},
        {"-c", "--strict", "--status", improper},
        {"-c", "--ignore-missing", missing},
        {"-c", "--ignore-missing", someMissing},
        {"-c", "--ignore-missing", mismatchAndMissing},
        {"-c", "--ignore-missing", "--quiet", missing},
        {"-c", "--ignore-missing", "--status", missing},
        {"-c", "--ignore-missing", gnu, missing},
        {"-c", "-w", "-"},
    };
    for (const auto& args : runs) {
        std::vector<std::string> ours = {"md5"}, theirs = {"md5sum"};
        ours.insert(ours.end(), args.begin(), args.end());
        theirs.insert(theirs.end(), args.begin(), args.end());
        const std::string in = readTextFile(improper);
        RunResult r = corvane(ours, in), expected = runProgram(theirs, in);
        SCOPED_TRACE(describe(theirs));
        EXPECT_EQ(r.exitStatus, expected.exitStatus);
        EXPECT_EQ(r.out, expected.out);
        auto unprefix = [](std::string text, const std::string& prefix) {
            for (std::size_t at = 0; (at = text.find(prefix, at)) != std::string::npos;) text.erase(at, prefix.size());
            return text;
        };
        EXPECT_EQ(unprefix(r.err, "corvane: md5: "), unprefix(expected.err, "md5sum: "));
    }
}

TEST(CliMd5, CheckOnlyOptionsAreUsageErrorsWithoutCheck) {
    REQUIRE_TOOL();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"md5", "--strict"}, "--strict goes with -c"},
        {{"md5", "-w"}, "--warn goes with -c"},
        {{"md5", "--ignore-missing"}, "--ignore-missing goes with -c"},
        {{"md5", "-c", "--tag"}, "--tag is meaningless when checking"},
        {{"md5", "-c", "-z"}, "--zero is not supported when checking"},
        {{"md5", "-c", "-w", "--quiet"}, "only one of --warn, --quiet and --status"},
        {{"md5", "-c", "-b"}, "the --binary and --text options are meaningless when verifying checksums"},
        {{"md5", "--tag", "-t"}, "--tag does not support --text mode"},
        {{"md5", "-b", "--text"}, "give either --binary or --text, not both"},
    };
    for (const auto& [args, fragment] : cases) expectFailure(corvane(args), 2, fragment, describe(args));
}

// ---------------------------------------------------------------------------
// base64

TEST(CliBase64, AgreesWithCoreutilsInBothAlphabets) {
    REQUIRE_TOOL();
    Rng rng(0xb64);
    for (std::size_t n : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 31u, 57u, 58u, 59u, 1000u, 65537u}) {
        std::string data = randomText(rng, n);
        std::string reference = oracle({"base64", "-w0"}, data);
        SCOPED_TRACE("length " + std::to_string(n));
        EXPECT_EQ(corvane({"base64"}, data).out, reference + "\n");
        EXPECT_EQ(corvane({"base64", "--web-safe"}, data).out, webSafe(reference) + "\n");
        EXPECT_EQ(corvane({"base64", "--web-safe", "--no-padding"}, data).out,
                  strip(webSafe(reference), '=') + "\n");

        EXPECT_EQ(corvane({"base64", "-d"}, reference + "\n").out, data);
        EXPECT_EQ(corvane({"base64", "-d"}, oracle({"base64"}, data)).out, data);  // wrapped at 76
        EXPECT_EQ(corvane({"base64", "-d", "--web-safe"}, webSafe(reference)).out, data);
        EXPECT_EQ(corvane({"base64", "--decode", "--web-safe"}, strip(webSafe(reference), '=') + "\n").out,
                  data);
    }
}

TEST(CliBase64, EmptyInputGivesEmptyOutput) {
    REQUIRE_TOOL();
    for (const auto& args : std::vector<std::vector<std::string>>{{"base64"}, {"base64", "-d"}}) {
        RunResult r = corvane(args, args.size() == 1 ? "" : " \n");
        EXPECT_EQ(r.exitStatus, 0) << describe(args) << r.err;
        EXPECT_EQ(r.out, "") << describe(args);
    }
}

TEST(CliBase64, RefusesInvalidText) {
    REQUIRE_TOOL();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"base64", "-d"}, "abc!"},
        {{"base64", "-d"}, "QQ\n"},                            // the standard alphabet needs its padding
        {{"base64", "-d"}, "-_8=\n"},                          // web-safe characters
        {{"base64", "-d", "--web-safe"}, "+/8=\n"},            // standard characters
        {{"base64", "-d"}, "QQ==QQ==\n"},                      // two joined encodings
        {{"base64", "-d"}, "QR==\n"},                          // non-canonical last character
        {{"base64", "-d"}, "Q\n"},                             // a lone character
        {{"base64", "-d"}, std::string("QQ==\0garbage", 12)},  // nothing after a NUL is dropped silently
    };
    for (const auto& [args, input] : cases)
        expectFailure(corvane(args, input), 1, "not valid", describe(args) + " <<< " + input);
}

TEST(CliBase64, UnreadableFileIsAFailure) {
    REQUIRE_TOOL();
    TempDir dir;
    expectFailure(corvane({"base64", dir.file("absent")}), 1, "absent: No such file", "missing file");
    expectFailure(corvane({"base64", dir.path()}), 1, dir.path(), "a folder");
}

// ---------------------------------------------------------------------------
// rsa

// Key files made once for the suite with `openssl genpkey`, converted to the
// other forms the tool reads as the tests ask for them.
class CliRsa : public ToolKeySuite<512, 768, 1024, 2048> {
protected:
    static std::string opensslDecrypt(OpensslKeyFiles& k, const std::string& block) {
        return oracle({"openssl", "pkeyutl", "-decrypt", "-pkeyopt", "rsa_padding_mode:pkcs1", "-inkey",
                       k.path(KeyForm::privatePkcs8Pem), "-in", write("block", block)});
    }
    static std::string opensslEncrypt(OpensslKeyFiles& k, const std::string& message) {
        return oracle({"openssl", "pkeyutl", "-encrypt", "-pubin", "-pkeyopt", "rsa_padding_mode:pkcs1",
                       "-inkey", k.path(KeyForm::publicSpkiPem), "-in", write("message", message)});
    }
};

TEST_F(CliRsa, KeyFileEncryptionDecryptsWithOpenssl) {
    Rng rng(0x25a);
    for (unsigned bits : {512u, 768u, 1024u}) {
        OpensslKeyFiles& k = key(bits);
        std::size_t longest = bits / 8 - 11;
        for (KeyForm form : {KeyForm::publicSpkiPem, KeyForm::publicPkcs1Pem, KeyForm::publicSpkiDer,
                             KeyForm::certificatePem, KeyForm::privatePkcs8Pem}) {
            const std::string& pub = k.path(form);
            for (std::size_t n : {std::size_t{0}, std::size_t{1}, longest}) {
                SCOPED_TRACE(pub + ", " + std::to_string(n) + " bytes");
                std::string message = randomText(rng, n);
                RunResult raw = corvane({"rsa", "encrypt", "--pubkey", pub, "--raw"}, message);
                ASSERT_EQ(raw.exitStatus, 0) << raw.err;
                EXPECT_EQ(raw.out.size(), bits / 8);
                EXPECT_EQ(opensslDecrypt(k, raw.out), message);
            }
        }
        // Default output: one line of Base64, and the --message form.
        RunResult text = corvane(
            {"rsa", "encrypt", "--pubkey", k.path(KeyForm::publicSpkiPem), "--message", "attack at dawn"});
        ASSERT_EQ(text.exitStatus, 0) << text.err;
        ASSERT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 1);
        EXPECT_EQ(opensslDecrypt(k, oracle({"base64", "-d"}, text.out)), "attack at dawn");
    }
}

TEST_F(CliRsa, HexKeyEncryptionThroughTheClassDecryptsWithOpenssl) {
    for (unsigned bits : {512u, 1024u}) {
        OpensslKeyFiles& k = key(bits);
        for (const char* exponent : {"10001", "010001", "00010001"}) {
            RunResult r = corvane({"rsa", "encrypt", "--modulus", k.modulusHex(), "--exponent", exponent,
                                   "--message", "hexadecimal key", "--raw"});
            ASSERT_EQ(r.exitStatus, 0) << r.err;
            EXPECT_EQ(r.out.size(), bits / 8);
            EXPECT_EQ(opensslDecrypt(k, r.out), "hexadecimal key");
        }
    }
    // Message from standard input, lower-case digits.
    std::string lower = key(512).modulusHex();
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    RunResult r =
        corvane({"rsa", "encrypt", "--modulus", lower, "--exponent", "10001", "--raw"}, "from stdin");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(opensslDecrypt(key(512), r.out), "from stdin");
}

TEST_F(CliRsa, OpensslEncryptionDecryptsWithTheTool) {
    Rng rng(0xdec);
    for (unsigned bits : {512u, 768u, 1024u}) {
        OpensslKeyFiles& k = key(bits);
        for (KeyForm form : {KeyForm::privatePkcs8Pem, KeyForm::privatePkcs1Pem, KeyForm::privatePkcs8Der}) {
            const std::string& priv = k.path(form);
            SCOPED_TRACE(priv);
            std::string message = randomText(rng, bits / 8 - 11);
            std::string block = opensslEncrypt(k, message);
            RunResult raw = corvane({"rsa", "decrypt", "--key", priv, "--raw"}, block);
            EXPECT_EQ(raw.exitStatus, 0) << raw.err;
            EXPECT_EQ(raw.out, message);
            RunResult b64 = corvane({"rsa", "decrypt", "--key", priv}, oracle({"base64"}, block));
            EXPECT_EQ(b64.exitStatus, 0) << b64.err;
            EXPECT_EQ(b64.out, message);
        }
    }
}

TEST_F(CliRsa, EncryptionsOfOneMessageDiffer) {
    OpensslKeyFiles& k = key(512);
    const std::string& priv = k.path(KeyForm::privatePkcs8Pem);
    std::vector<std::string> args = {"rsa",        "encrypt", "--modulus", k.modulusHex(),
                                     "--exponent", "10001",   "--message", "same"};
    RunResult a = corvane(args), b = corvane(args);
    ASSERT_EQ(a.exitStatus, 0);
    ASSERT_EQ(b.exitStatus, 0);
    EXPECT_NE(a.out, b.out);
    EXPECT_EQ(corvane({"rsa", "decrypt", "--key", priv}, a.out).out, "same");
    EXPECT_EQ(corvane({"rsa", "decrypt", "--key", priv}, b.out).out, "same");
}

TEST_F(CliRsa, RefusesMessagesThatDoNotFit) {
    for (unsigned bits : {512u, 1024u}) {
        OpensslKeyFiles& k = key(bits);
        std::string tooLong(bits / 8 - 10, 'm');
        expectFailure(corvane({"rsa", "encrypt", "--pubkey", k.path(KeyForm::publicSpkiPem)}, tooLong), 1,
                      "too long", "pubkey");
        expectFailure(corvane({"rsa", "encrypt", "--modulus", k.modulusHex(), "--exponent", "10001",
                               "--message", tooLong}),
                      1, "too long", "hex key");
    }
}

TEST_F(CliRsa, RefusesUnusableKeys) {
    OpensslKeyFiles& big = key(2048);
    expectFailure(corvane({"rsa", "encrypt", "--pubkey", big.path(KeyForm::publicSpkiPem), "--message", "x"}),
                  1, "at most 1024", "2048 pub");
    expectFailure(corvane({"rsa", "decrypt", "--key", big.path(KeyForm::privatePkcs8Pem)}, "AAAA"), 1,
                  "at most 1024", "2048 priv");

    std::string junk = write("junk.pem", "-----BEGIN PUBLIC KEY-----\nnot a key\n-----END PUBLIC KEY-----\n");
    expectFailure(corvane({"rsa", "encrypt", "--pubkey", junk, "--message", "x"}), 1, "not an RSA public key",
                  "junk");
    expectFailure(corvane({"rsa", "decrypt", "--key", key(512).path(KeyForm::publicSpkiPem)}, "AAAA"), 1,
                  "not an RSA private key", "public key as private");
    expectFailure(corvane({"rsa", "encrypt", "--pubkey", file("absent"), "--message", "x"}), 1,
                  "No such file", "missing public key");
    expectFailure(corvane({"rsa", "decrypt", "--key", file("absent")}, "AAAA"), 1, "No such file",
                  "missing private key");

    // With no passphrase given and no terminal to ask on.
    expectFailure(corvane({"rsa", "decrypt", "--key", key(512).path(KeyForm::encryptedPkcs8Pem)}, "AAAA"), 1,
                  "the private key is encrypted; give its passphrase", "encrypted key");

    std::string modulus = key(512).modulusHex();
    expectFailure(
        corvane({"rsa", "encrypt", "--modulus", modulus.substr(2), "--exponent", "10001", "--message", "x"}),
        1, "512 to 1024 bits", "short modulus");
    expectFailure(corvane({"rsa", "encrypt", "--modulus", modulus, "--exponent", "0000", "--message", "x"}),
                  1, "zero", "zero exponent");
}

TEST_F(CliRsa, RefusesDamagedBlocks) {
    const std::string& priv = key(512).path(KeyForm::privatePkcs8Pem);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {std::string(64, '\0'), "decryption failed"},    // decrypts to a block of type 0
        {std::string(64, '\xff'), "decryption failed"},  // not below the modulus
        {std::string(63, '\x01'), "has 63 bytes"},
        {std::string(65, '\x01'), "has 65 bytes"},
    };
    for (const auto& [block, fragment] : cases)
        expectFailure(corvane({"rsa", "decrypt", "--key", priv, "--raw"}, block), 1, fragment,
                      std::to_string(block.size()) + " bytes");
    expectFailure(corvane({"rsa", "decrypt", "--key", priv}, "****\n"), 1, "not valid Base64", "Base64");
}

// ---------------------------------------------------------------------------
// des3

std::string hexOf(const std::string& s) { return toHex(bytesOf(s)); }

TEST(CliDes3, AgreesWithOpensslEnc) {
    REQUIRE_TOOL();
    Rng rng(0xde5);
    for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 33u, 1000u}) {
        SCOPED_TRACE(std::to_string(n) + " bytes");
        std::string data = randomText(rng, n);
        std::string keyHex = toHex(rng.bytes(24)), ivHex = toHex(rng.bytes(8));
        std::string reference = oracle({"openssl", "enc", "-des-ede3-cbc", "-K", keyHex, "-iv", ivHex}, data);
        EXPECT_EQ(reference.size(), (n / 8 + 1) * 8);
        std::vector<std::string> keyArgs = {"--key-hex", keyHex, "--iv-hex", ivHex};

        std::vector<std::string> encrypt = {"des3", "encrypt", "--raw"};
        encrypt.insert(encrypt.end(), keyArgs.begin(), keyArgs.end());
        EXPECT_EQ(corvane(encrypt, data).out, reference);
        encrypt.erase(encrypt.begin() + 2);  // default Base64 output
        EXPECT_EQ(corvane(encrypt, data).out, oracle({"base64", "-w0"}, reference) + "\n");

        std::vector<std::string> decrypt = {"des3", "decrypt", "--raw"};
        decrypt.insert(decrypt.end(), keyArgs.begin(), keyArgs.end());
        EXPECT_EQ(corvane(decrypt, reference).out, data);
        decrypt.erase(decrypt.begin() + 2);
        EXPECT_EQ(corvane(decrypt, oracle({"base64"}, reference)).out, data);
    }
}

TEST(CliDes3, ShortKeysAndIvsAreZeroExtendedAndTheKeyIsTheDefaultIv) {
    REQUIRE_TOOL();
    const std::string data = "interoperability with existing peers";
    const std::string keyHex = hexOf("secret") + std::string(36, '0');  // 24 bytes
    // No IV: the zero-extended key's first 8 bytes.
    EXPECT_EQ(corvane({"des3", "encrypt", "--raw", "--key", "secret"}, data).out,
              oracle({"openssl", "enc", "-des-ede3-cbc", "-K", keyHex, "-iv", keyHex.substr(0, 16)}, data));
    // A 3-byte IV: followed by 5 zero bytes.
    EXPECT_EQ(
        corvane({"des3", "encrypt", "--raw", "--key-hex", hexOf("secret"), "--iv", "abc"}, data).out,
        oracle({"openssl", "enc", "-des-ede3-cbc", "-K", keyHex, "-iv", hexOf("abc") + "0000000000"}, data));
}

TEST(CliDes3, RefusesWhatDoesNotDecrypt) {
    REQUIRE_TOOL();
    // Fixed inputs: under the wrong key this ciphertext's last block does not
    // end in valid padding (openssl agrees, checked first).
    const std::string right = "0123456789ABCDEF01234567", wrong = "76543210FEDCBA9876543210";
    std::string sealed = corvane({"des3", "encrypt", "--raw", "--key", right}, "a fixed message").out;
    ASSERT_EQ(sealed.size(), 16u);
    RunResult check = runProgram(
        {"openssl", "enc", "-d", "-des-ede3-cbc", "-K", hexOf(wrong), "-iv", hexOf(wrong).substr(0, 16)},
        sealed);
    ASSERT_NE(check.exitStatus, 0) << "pick other fixed keys: the wrong key happens to decrypt";

    expectFailure(corvane({"des3", "decrypt", "-q", "--raw", "--key", wrong}, sealed), 1, "decryption failed",
                  "wrong key");
    expectFailure(corvane({"des3", "decrypt", "-q", "--raw", "--key", right}, sealed.substr(0, 13)), 1,
                  "decryption failed: the ciphertext has 13 bytes", "13 bytes");
    expectFailure(corvane({"des3", "decrypt", "-q", "--raw", "--key", right}, ""), 1, "no ciphertext",
                  "empty");
    expectFailure(corvane({"des3", "decrypt", "-q", "--key", right}, "not base64!"), 1, "not valid Base64",
                  "Base64");
    expectFailure(corvane({"des3", "encrypt", "-q", "--key", right, "/nonexistent/file"}), 1,
                  "/nonexistent/file", "file");
}

TEST(CliDes3, KeygenPrintsFreshHexKeys) {
    REQUIRE_TOOL();
    RunResult a = corvane({"des3", "keygen"}), b = corvane({"des3", "keygen"});
    for (const RunResult& r : {a, b}) {
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        ASSERT_EQ(r.out.size(), 25u);
        EXPECT_EQ(r.out.back(), '\n');
        EXPECT_EQ(r.out.find_first_not_of("0123456789ABCDEF"), 24u) << r.out;
    }
    EXPECT_NE(a.out, b.out);
    // A made key works as --key.
    std::string key = a.out.substr(0, 24);
    std::string sealed = corvane({"des3", "encrypt", "--key", key}, "round trip").out;
    EXPECT_EQ(corvane({"des3", "decrypt", "--key", key}, sealed).out, "round trip");
}

}  // namespace
