#include "tests/support/cli/cli_tool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace corvane::test {

#ifdef CORVANE_TOOL
const char* const kTool = CORVANE_TOOL;
#else
const char* const kTool = nullptr;
#endif

RunResult corvane(std::vector<std::string> args, const std::string& in) {
    args.insert(args.begin(), kTool);
    return runProgram(args, in);
}

std::string oracle(const std::vector<std::string>& argv, const std::string& in) {
    RunResult r = runProgram(argv, in);
    EXPECT_EQ(r.exitStatus, 0) << argv[0] << " " << (argv.size() > 1 ? argv[1] : "") << ": " << r.err;
    return r.out;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::string describe(const std::vector<std::string>& args) {
    std::string all;
    for (const auto& a : args) all += (all.empty() ? "" : " ") + a;
    return all;
}

void expectFailure(const RunResult& r, int status, const std::string& fragment, const std::string& context) {
    EXPECT_EQ(r.exitStatus, status) << context << "\nstderr: " << r.err;
    EXPECT_EQ(r.out, "") << context;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << context << "\nstderr: " << r.err;
    EXPECT_EQ(r.err.rfind("corvane: ", 0), 0u) << context << "\nstderr: " << r.err;
    EXPECT_NE(r.err.find(fragment), std::string::npos) << context << "\nstderr: " << r.err;
}

ScopedEnvironment::~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
}

void ScopedEnvironment::remember(const std::string& name) {
    if (saved_.count(name) != 0) return;
    const char* value = std::getenv(name.c_str());
    saved_[name] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void ScopedEnvironment::set(const std::string& name, const std::string& value) {
    remember(name);
    setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnvironment::unset(const std::string& name) {
    remember(name);
    unsetenv(name.c_str());
}

}  // namespace corvane::test
