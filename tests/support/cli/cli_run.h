// Runs a program (the corvane tool, openssl, coreutils) as a child process
// for the command-line tests: feeds standard input from a string, captures
// standard output and standard error, and reports the exit status.
#ifndef CORVANE_TEST_CLI_RUN_H
#define CORVANE_TEST_CLI_RUN_H

#include <string>
#include <vector>

namespace corvane::test {

struct RunResult {
    int exitStatus = -1;  // the child's exit status; 128 + signal when killed
    std::string out;      // standard output, byte for byte
    std::string err;      // standard error
    long peakRssKiB = 0;  // the child's peak resident memory (ru_maxrss)
};

// A scratch folder, removed with its content when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // Path of name inside the folder.
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes contents to name (binary) and returns its path.
    std::string write(const std::string& name, const std::string& contents) const;

private:
    std::string path_;
};

// Runs argv[0] (looked up in PATH when it has no slash) with the arguments,
// standard input read from stdinData, in a session of its own: it has no
// controlling terminal, so nothing it runs can wait for typing. Standard output goes to stdoutPath
// when one is given (then RunResult::out stays empty), else it is captured.
// Throws std::runtime_error when the program cannot be started.
RunResult runProgram(const std::vector<std::string>& argv, const std::string& stdinData = {},
                     const std::string& stdoutPath = {});

// The standard stream that runOnTerminal gives a terminal.
enum class TerminalStream { output, error };

// Runs the program as runProgram does, but with a pseudo-terminal as its
// controlling terminal and as standard output or standard error; the
// RunResult field of that stream holds what reached the terminal, byte for
// byte (the terminal does not turn line feeds into carriage return and line
// feed). Nothing is typed on it.
RunResult runOnTerminal(const std::vector<std::string>& argv, const std::string& stdinData,
                        TerminalStream stream);

}  // namespace corvane::test

#endif
