// Every example users are shown is run: each .nf block of the manual
// page's EXAMPLES, and each shell block of README.md and docs/**/*.md
// marked runnable: a fenced block opened by ```sh whose first line starts
// with "# example" (other blocks are only shown), as in
//     ```sh
//     # example: a digest list, then its check
//     corvane md5 *.iso > SUMS && corvane md5 -c --quiet SUMS
//     ```
// The blocks of one page run in order, each by bash -e -o pipefail, in one
// scratch folder for the page (a block may use what an earlier one made),
// with the built corvane first on PATH and no terminal; each must exit 0.
// The folder starts with these files:
//   server.pem   a 1024-bit RSA private key, unencrypted (PKCS #8 PEM)
//   peer.pem     server.pem's public key ("PUBLIC KEY" PEM)
//   ours.pem     another 1024-bit private key, encrypted under pass.txt
//   pass.txt     a passphrase on one line
//   notes.txt    a few lines of text
//   records.b64  three records, one per line, in Base64
//   photo.jpg, big.tar, a.iso, b.iso, digest.bin   random bytes (digest.bin
//                holds 20)
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/cli/cli_tool.h"
#include "tests/support/test_support.h"

using namespace corvane::test;

namespace {

struct Example {
    std::size_t line;  // where the block starts in its page
    std::string script;
};

// A manual page's text line as the shell reads it: "\-" is "-", "\e" a
// backslash, "\&" nothing.
std::string unroff(const std::string& line) {
    std::string plain;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 == line.size())
            plain += line[i];
        else if (line[++i] == 'e')
            plain += '\\';
        else if (line[i] != '&')
            plain += line[i];
    }
    return plain;
}

std::vector<Example> manualExamples(const std::string& page) {
    std::vector<Example> examples;
    std::istringstream lines(page);
    bool inSection = false, inBlock = false;
    std::size_t number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (line.rfind(".SH", 0) == 0) inSection = line == ".SH EXAMPLES";
        if (!inSection) continue;
        if (line == ".nf") {
            examples.push_back({number, ""});
            inBlock = true;
        } else if (line == ".fi") {
            inBlock = false;
        } else if (inBlock) {
            examples.back().script += unroff(line) + "\n";
        }
    }
    return examples;
}

std::vector<Example> markdownExamples(const std::string& page) {
    std::vector<Example> examples;
    std::istringstream lines(page);
    // Inside an ```sh block before its first line, a marked block, another block.
    enum { outside, firstLine, marked, shownOnly } state = outside;
    std::size_t number = 0, start = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        const bool fence = line.rfind("```", 0) == 0;
        if (state == outside) {
            if (fence) state = line == "```sh" ? firstLine : shownOnly;
            start = number;
        } else if (fence) {
            state = outside;
        } else if (state == firstLine) {
            state = line.rfind("# example", 0) == 0 ? marked : shownOnly;
            if (state == marked) examples.push_back({start, ""});
        }
        if (state == marked) examples.back().script += line + "\n";
    }
    return examples;
}

// The files examples may name (see the top of this file).
const char kFixtures[] =
    "openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out server.pem 2>/dev/null\n"
    "openssl pkey -in server.pem -pubout -out peer.pem\n"
    "printf 'examples passphrase\\n' > pass.txt\n"
    "corvane rsa keygen --bits 1024 --out ours.pem --passout-file pass.txt > /dev/null\n"
    "printf 'Meet me at the old mill.\\nBring the map.\\n' > notes.txt\n"
    "for r in one two three; do printf 'record %s' $r | base64; done > records.b64\n"
    "head -c 30000 /dev/urandom > photo.jpg; head -c 300000 /dev/urandom > big.tar\n"
    "head -c 4000 /dev/urandom > a.iso; head -c 5000 /dev/urandom > b.iso; head -c 20 /dev/urandom > digest.bin\n";

// Runs the examples of one page in order in a folder of their own.
void runExamples(const std::string& page, const std::vector<Example>& examples) {
    TempDir dir;
    ScopedEnvironment environment;
    environment.set("PATH", std::filesystem::path(kTool).parent_path().string() + ":" + std::getenv("PATH"));
    auto run = [&](const std::string& script) {
        return runProgram({"bash", "-e", "-o", "pipefail", "-c", "cd \"$0\"\n" + script, dir.path()});
    };
    RunResult made = run(kFixtures);
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    for (const Example& example : examples) {
        RunResult r = run(example.script);
        EXPECT_EQ(r.exitStatus, 0) << page << ", the example at line " << example.line << ":\n"
                                   << example.script << "stdout:\n" << r.out << "stderr:\n" << r.err;
    }
}

TEST(CliExamples, ManualPageExamplesRun) {
    REQUIRE_TOOL();
    const std::string page = std::string(CORVANE_TOOL_SOURCE_DIR) + "/docs/corvane.1.in";
    const std::vector<Example> examples = manualExamples(readTextFile(page));
    ASSERT_GE(examples.size(), 8u);
    runExamples(page, examples);
}

TEST(CliExamples, MarkedMarkdownExamplesRun) {
    REQUIRE_TOOL();
    namespace fs = std::filesystem;
    const fs::path root = fs::path(CORVANE_TOOL_SOURCE_DIR).parent_path().parent_path();
    std::vector<fs::path> pages = {root / "README.md"};
    if (fs::is_directory(root / "docs"))
        for (const auto& entry : fs::recursive_directory_iterator(root / "docs"))
            if (entry.path().extension() == ".md") pages.push_back(entry.path());
    for (const fs::path& page : pages) {
        if (!fs::exists(page)) continue;
        const std::vector<Example> examples = markdownExamples(readTextFile(page.string()));
        if (!examples.empty()) runExamples(page.string(), examples);
    }
}

// The marking convention itself, on a page made for it.
TEST(CliExamples, OnlyMarkedShellBlocksAreExamples) {
    const std::vector<Example> examples = markdownExamples(
        "text\n```sh\n# example: one\necho 1\n```\n```sh\necho shown only\n```\n"
        "```console\n# example\n$ echo not sh\n```\n```sh\n# example\necho 2\n```\n");
    ASSERT_EQ(examples.size(), 2u);
    EXPECT_EQ(examples[0].line, 2u);
    EXPECT_EQ(examples[0].script + examples[1].script, "# example: one\necho 1\n# example\necho 2\n");
    EXPECT_EQ(manualExamples(".SH X\n.nf\nno\n.fi\n.SH EXAMPLES\ntext\n.nf\na \\-b \\e\\&.c\n.fi\n.SH Y\n")[0].script,
              "a -b \\.c\n");
}

}  // namespace
