// The corvane tool as the command-line tests run it: the path of the built
// tool, a runner, the oracle programs it is compared with (openssl,
// coreutils), and the shape every failure must have.
#ifndef CORVANE_TEST_CLI_TOOL_H
#define CORVANE_TEST_CLI_TOOL_H

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/cli/cli_run.h"
#include "tests/support/test_support.h"

namespace corvane::test {

// The built tool, or nullptr when the build has no tool.
extern const char* const kTool;

#define REQUIRE_TOOL()                     \
    if (::corvane::test::kTool == nullptr) \
    GTEST_SKIP() << "the corvane tool is not built (CORVANE_BUILD_TOOLS=OFF)"

// A command line, and two of them joined.
using Args = std::vector<std::string>;
inline Args operator+(Args a, const Args& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Runs the tool with the arguments and standard input.
RunResult corvane(std::vector<std::string> args, const std::string& in = {});

// Runs a helper program that must succeed (openssl, base64, md5sum) and
// returns its output; a failure is a test failure.
std::string oracle(const std::vector<std::string>& argv, const std::string& in = {});

inline std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }
inline std::string randomText(Rng& rng, std::size_t n) { return text(rng.bytes(n)); }
// The arguments joined by blanks, for messages.
std::string describe(const std::vector<std::string>& args);

// The lines of text, each without its line feed; and lines joined, each
// with its line feed (the tool's --lines output).
std::vector<std::string> linesOf(const std::string& text);
std::string joined(const std::vector<std::string>& lines);

// A failure as users see it: the status, nothing written on standard
// output, and exactly one line on standard error, "corvane: ...", that
// holds fragment.
void expectFailure(const RunResult& r, int status, const std::string& fragment, const std::string& context);

// Environment variables set for the tools a test starts, restored when the
// object goes (the tests start programs from one thread).
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const std::string& name, const std::string& value);
    void unset(const std::string& name);

private:
    void remember(const std::string& name);
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace corvane::test

#endif
