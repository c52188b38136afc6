#include "tests/support/cli/cli_run.h"

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace corvane::test {

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-cli-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& contents) const {
    std::string path = file(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

RunResult runProgram(const std::vector<std::string>& argv, const std::string& stdinData,
                     const std::string& stdoutPath) {
    if (argv.empty()) throw std::invalid_argument("runProgram needs a program");
    // Files rather than pipes: no risk of a deadlock on large outputs.
    TempDir io;
    std::string inPath = io.write("stdin", stdinData);
    std::string outPath = stdoutPath.empty() ? io.file("stdout") : stdoutPath;
    std::string errPath = io.file("stderr");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));

    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) throw std::runtime_error("waitpid: " + std::string(std::strerror(errno)));

    RunResult result;
    if (WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.exitStatus = 128 + WTERMSIG(status);
    if (stdoutPath.empty()) result.out = slurp(outPath);
    result.err = slurp(errPath);
    return result;
}

RunResult runOnTerminal(const std::vector<std::string>& argv, const std::string& stdinData,
                        TerminalStream stream) {
    if (argv.empty()) throw std::invalid_argument("runOnTerminal needs a program");
    TempDir io;
    const std::string inPath = io.write("stdin", stdinData);
    const std::string otherPath = io.file("other");
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    termios raw{};
    cfmakeraw(&raw);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, &raw, nullptr);
    if (pid < 0) throw std::runtime_error("forkpty: " + std::string(std::strerror(errno)));
    if (pid == 0) {
        // The terminal holds every stream: two are put back.
        const int in = open(inPath.c_str(), O_RDONLY);
        const int other = open(otherPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || other < 0 || dup2(in, 0) < 0 || dup2(other, stream == TerminalStream::output ? 2 : 1) < 0)
            _exit(126);
        execvp(args[0], args.data());
        _exit(127);
    }
    // Read until the terminal is closed by the program's end (EIO).
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        shown.append(buffer, static_cast<std::size_t>(n));
    }
    close(terminal);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) throw std::runtime_error("waitpid: " + std::string(std::strerror(errno)));
    RunResult result;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    (stream == TerminalStream::output ? result.out : result.err) = shown;
    (stream == TerminalStream::output ? result.err : result.out) = slurp(otherPath);
    return result;
}

}  // namespace corvane::test
