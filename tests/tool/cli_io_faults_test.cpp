// The corvane tool when its input or output fails part-way: a write that
// fails after some output went out (a file-size limit, as a full disk would),
// a reader that closes the pipe early (EPIPE, with SIGPIPE at its default as
// a shell leaves it), and an input that gives an error after some bytes (a
// terminal whose other side has gone). Each must end with exit status 1 and
// exactly one line on standard error naming the cause, never with success.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/cli/cli_run.h"
#include "tests/support/test_support.h"

using namespace corvane::test;

namespace {

#ifdef CORVANE_TOOL
const char* const kTool = CORVANE_TOOL;
#else
const char* const kTool = nullptr;
#endif

#define REQUIRE_TOOL() \
    if (kTool == nullptr) GTEST_SKIP() << "the corvane tool is not built (CORVANE_BUILD_TOOLS=OFF)"

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The tool with the given descriptors as its standard input and output
// (descriptors the test opens are close-on-exec, so the tool holds no other);
// standard error goes to errPath. With a file-size limit, SIGXFSZ is ignored
// so that a write beyond the limit fails with EFBIG. SIGPIPE keeps its
// default action, as a shell starts programs.
pid_t startTool(const std::vector<std::string>& args, int in, int out, const std::string& errPath,
                rlim_t fileSizeLimit = RLIM_INFINITY) {
    std::vector<std::string> argv = {kTool};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        signal(SIGPIPE, SIG_DFL);
        if (fileSizeLimit != RLIM_INFINITY) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{fileSizeLimit, fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execv(raw[0], raw.data());
        _exit(127);
    }
    close(err);
    return pid;
}

// Exit status, or 128 + the signal that ended the process.
int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void expectOneLine(int status, const std::string& err, const std::string& expected,
                   const std::string& context) {
    EXPECT_EQ(status, 1) << context << "\nstderr: " << err;
    EXPECT_EQ(err, expected + "\n") << context;
}

// Many files with long names, so that md5 writes many lines.
std::vector<std::string> manyFiles(const TempDir& dir, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; i++)
        names.push_back(dir.write("a-file-with-a-rather-long-name-" + std::to_string(i), std::to_string(i)));
    return names;
}

const std::string kDes3Key = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";

TEST(CliIoFaults, WriteFailingPartWayIsAFailureReportedOnce) {
    REQUIRE_TOOL();
    TempDir dir;
    Rng rng(0xf5);
    std::string input = dir.write("input", [&] {
        Bytes b = rng.bytes(200000);
        return std::string(b.begin(), b.end());
    }());
    std::vector<std::string> md5 = {"md5"};
    for (const auto& name : manyFiles(dir, 400)) md5.push_back(name);
    const rlim_t limit = 16384;
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"base64"},
                                               {"des3", "encrypt", "-q", "--key-hex", kDes3Key},
                                               {"des3", "encrypt", "-q", "--raw", "--key-hex", kDes3Key},
                                               md5}) {
        std::string context = args[0] + (args.size() > 1 ? " " + args[1] : "");
        int in = open(input.c_str(), O_RDONLY | O_CLOEXEC);
        std::string outPath = dir.file("out");
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        int status = waitFor(startTool(args, in, out, dir.file("err"), limit));
        close(in);
        close(out);
        expectOneLine(status, slurp(dir.file("err")), "corvane: " + args[0] + ": write error: File too large",
                      context);
        std::size_t written = slurp(outPath).size();
        EXPECT_GT(written, 0u) << context << ": the failure should come part-way";
        EXPECT_LE(written, limit) << context;
    }
}

TEST(CliIoFaults, ReaderClosingThePipeEarlyIsAFailureReportedOnce) {
    REQUIRE_TOOL();
    TempDir dir;
    Rng rng(0xe9);
    Bytes big = rng.bytes(256 << 10);  // its Base64 is well beyond what a pipe holds (64 KiB)
    std::string input = dir.write("input", std::string(big.begin(), big.end()));
    std::vector<std::string> md5 = {"md5"};
    for (const auto& name : manyFiles(dir, 1500)) md5.push_back(name);  // about 140 KiB of lines
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"base64"}, {"des3", "encrypt", "-q", "--key-hex", kDes3Key}, md5}) {
        // The reader takes a little, then goes; or goes before anything is written.
        for (std::size_t taken : {std::size_t{1000}, std::size_t{0}}) {
            std::string context = args[0] + ", reader gone after " + std::to_string(taken) + " bytes";
            int pipeEnds[2];
            ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);  // the tool must hold no read end itself
            int in = open(input.c_str(), O_RDONLY | O_CLOEXEC);
            if (taken == 0) close(pipeEnds[0]);
            pid_t pid = startTool(args, in, pipeEnds[1], dir.file("err"));
            close(in);
            close(pipeEnds[1]);
            if (taken > 0) {
                std::string got(taken, '\0');
                std::size_t have = 0;
                while (have < taken) {
                    ssize_t n = read(pipeEnds[0], got.data() + have, taken - have);
                    if (n <= 0) break;
                    have += static_cast<std::size_t>(n);
                }
                EXPECT_EQ(have, taken) << context;
                close(pipeEnds[0]);
            }
            int status = waitFor(pid);  // before the error file is read
            expectOneLine(status, slurp(dir.file("err")),
                          "corvane: " + args[0] + ": write error: Broken pipe", context);
        }
    }
}

// A terminal whose other side wrote `bytes` and closed: reading it gives
// those bytes, then EIO. Returns the descriptor to read.
int inputFailingAfter(const std::string& bytes) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
    fcntl(master, F_SETFD, FD_CLOEXEC);
    int other = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (other < 0) return -1;
    termios raw{};
    tcgetattr(other, &raw);
    cfmakeraw(&raw);  // bytes pass unchanged
    tcsetattr(other, TCSANOW, &raw);
    if (write(other, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return -1;
    close(other);
    return master;
}

TEST(CliIoFaults, InputFailingPartWayIsAFailureWithNothingWritten) {
    REQUIRE_TOOL();
    TempDir dir;
    const std::string modulus = std::string(127, 'c') + "d";  // odd: the tool refuses even moduli
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"base64"}, "corvane: base64: standard input: Input/output error"},
        {{"base64", "-d"}, "corvane: base64: standard input: Input/output error"},
        {{"des3", "encrypt", "-q", "--key-hex", kDes3Key},
         "corvane: des3: standard input: Input/output error"},
        {{"rsa", "encrypt", "--modulus", modulus, "--exponent", "010001"},
         "corvane: rsa: standard input: Input/output error"},
        {{"md5"}, "corvane: md5: -: Input/output error"},
    };
    for (const auto& [args, expected] : cases) {
        std::string context = args[0] + (args.size() > 1 ? " " + args[1] : "");
        // Base64 text, so that every command accepts what it gets before the error.
        int in = inputFailingAfter(std::string(800, 'Q'));
        if (in < 0) GTEST_SKIP() << "no pseudo-terminal to stand for a failing input";
        std::string outPath = dir.file("out");
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        int status = waitFor(startTool(args, in, out, dir.file("err")));
        close(in);
        close(out);
        expectOneLine(status, slurp(dir.file("err")), expected, context);
        EXPECT_EQ(slurp(outPath), "") << context;
    }
}

}  // namespace
