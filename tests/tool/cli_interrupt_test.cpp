// Every command that writes a file, stopped by each of SIGINT, SIGTERM,
// SIGHUP, SIGQUIT and SIGKILL at the points where it holds part of a
// result: before any output (blocked reading its input), mid-stream (half
// its input given) and right before commit (all of its input given but the
// end, or for rsa keygen, blocked writing the public key to a full pipe).
// On both of the writer's paths, afterwards: the process ended by that
// signal, the target is absent or the old file unchanged, and the folder
// holds nothing else; except after SIGKILL on the named path, which leaves
// exactly one temporary of the recognisable form, which the next command
// writing into that folder removes. A table of what each run left is
// printed, for the record.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <Corvane/corvane.hpp>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/cli/cli_tool.h"
#include "tests/support/cli/tool_key_suite.h"
#include "tests/support/rsa/openssl_key_files.h"

extern char** environ;

using namespace corvane::test;

namespace {

using corvane::test::corvane;
namespace v1 = corvane::v1;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGKILL};
constexpr const char* kTarget = "result";

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The writer's process id in a temporary named as the documentation says:
// ".<target>.corvane-<pid>-XXXXXX"; -1 for any other name.
pid_t writerOf(const std::string& name) {
    static const std::regex form(std::string(R"(\.)") + kTarget + R"(\.corvane-([0-9]+)-[A-Za-z0-9]{6})");
    std::smatch match;
    return std::regex_match(name, match, form) ? static_cast<pid_t>(std::stol(match[1])) : -1;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Whether every thread of the process sleeps (blocked in a read or a
// write): /proc/PID/task/*/stat stays readable when the tool has made
// itself undumpable.
bool allThreadsSleep(pid_t pid) {
    std::error_code error;
    std::size_t threads = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        const std::string stat = slurp(task.path().string() + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'S') return false;
        ++threads;
    }
    return threads > 0;
}

// The size of the file the process writes in folder without a name there,
// seen through /proc/PID/fd; nullopt where that cannot be read (a process
// that made itself undumpable, seen by another user than root).
std::optional<std::uintmax_t> unnamedFileSize(pid_t pid, const std::string& folder) {
    std::error_code error;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& fd : std::filesystem::directory_iterator(fds, error)) {
        const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
        if (target.rfind(folder + "/#", 0) == 0 && target.ends_with(" (deleted)"))
            return std::filesystem::file_size(fd.path(), error);
    }
    return std::nullopt;
}

bool makesUnnamedFiles(const std::string& folder) {
    const int probe = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (probe < 0) return false;
    ::close(probe);
    return true;
}

// The tool run with standard input from a pipe this test holds open, so
// that it stays at a point of its choosing until a signal comes.
class HeldRun {
public:
    // fullStdout: standard output is a pipe that is already full, so the
    // first write to it blocks.
    HeldRun(const Args& args, bool fullStdout, const std::string& errPath) {
        int in[2], out[2] = {-1, -1};
        if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        input_ = in[1];
        if (fullStdout) {
            if (::pipe2(out, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe");
            ::fcntl(out[1], F_SETPIPE_SZ, 4096);
            const std::string filler(4096, 'f');
            while (::write(out[1], filler.data(), filler.size()) > 0) {
            }
            ::write(out[1], "f", 1);  // what is left below a page
            ::fcntl(out[1], F_SETFL, 0);
            output_ = out[0];
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        if (fullStdout)
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        // Whatever the test runner ignores or blocks, the tool starts with
        // the defaults, as from a shell.
        sigset_t defaults, none;
        sigemptyset(&defaults);
        for (int signal : kSignals) sigaddset(&defaults, signal);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        std::vector<std::string> argv = {kTool};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> pointers;
        for (std::string& a : argv) pointers.push_back(a.data());
        pointers.push_back(nullptr);
        const int rc = ::posix_spawn(&pid_, kTool, &actions, &attributes, pointers.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        if (out[1] >= 0) ::close(out[1]);
        if (rc != 0) throw std::runtime_error("cannot start the tool: " + std::string(std::strerror(rc)));
    }
    ~HeldRun() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (input_ >= 0) ::close(input_);
        if (output_ >= 0) ::close(output_);
    }
    HeldRun(const HeldRun&) = delete;
    HeldRun& operator=(const HeldRun&) = delete;

    pid_t pid() const { return pid_; }

    // Gives the tool these bytes of its input (and keeps the pipe open).
    void feed(const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::write(input_, bytes.data() + at, bytes.size() - at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw std::runtime_error("the tool stopped reading");
            at += static_cast<std::size_t>(n);
        }
    }

    // Waits until the tool has read all it was given and every thread of it
    // sleeps, several polls in a row; false after 20 s.
    bool waitUntilHeld() const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        int quiet = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            int unread = 0;
            ::ioctl(input_, FIONREAD, &unread);
            quiet = unread == 0 && allThreadsSleep(pid_) ? quiet + 1 : 0;
            if (quiet == 5) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    // Sends the signal; the signal that ended the tool, or -1 when it exited.
    int stopWith(int signal) {
        ::kill(pid_, signal);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
};

// Where a run is stopped: how much of its input it has been given, and
// whether part of the result is written by then.
struct Point {
    const char* name;
    std::string input;
    bool resultStarted;
};

struct Command {
    const char* name;
    Args args;  // kTarget stands for the target's path
    bool existing;  // whether the target is there before (and must stay as it was)
    std::vector<Point> points;
    bool fullStdout = false;
};

class CliInterrupt : public ToolKeySuite<512> {};

TEST_F(CliInterrupt, NoPartOfAResultSurvivesASignal) {
    Rng rng(0x519);
    OpensslKeyFiles& k = key(512);
    const std::string privateKey = k.path(KeyForm::privatePkcs8Pem), publicKey = k.path(KeyForm::publicSpkiPem);

    const std::string desKey = "00112233445566778899aabbccddeeff0011223344556677", iv = "0011223344556677";
    const std::string ciphertext =
        corvane({"des3", "encrypt", "--raw", "--key-hex", desKey, "--iv-hex", iv}, randomText(rng, 1 << 20)).out;
    // Ten groups of 64 lines for rsa decrypt, eight for envelope open (whose
    // two jobs hold four groups before the first is written), of messages
    // long enough that output reaches the file group by group.
    std::vector<std::string> messages, records;
    for (int i = 0; i < 640; ++i) messages.push_back(v1::base64Encode(rng.bytes(53)));
    for (int i = 0; i < 512; ++i) records.push_back(v1::base64Encode(rng.bytes(1000)));
    const std::string blocks = corvane({"rsa", "encrypt", "--pubkey", publicKey, "--lines"}, joined(messages)).out;
    const std::string envelopes =
        corvane({"envelope", "seal", "--pubkey", publicKey, "--lines"}, joined(records)).out;
    const std::vector<std::string> blockLines = linesOf(blocks), envelopeLines = linesOf(envelopes);
    ASSERT_EQ(blockLines.size(), 640u);
    ASSERT_EQ(envelopeLines.size(), 512u);
    auto firstLines = [](const std::vector<std::string>& lines, std::size_t count) {
        return joined(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(count)));
    };
    const std::string keyFile = slurp(privateKey);

    const std::vector<Command> commands = {
        {"des3 decrypt -o",
         {"des3", "decrypt", "--raw", "--key-hex", desKey, "--iv-hex", iv, "-o", kTarget},
         true,
         {{"before any output", "", false},
          {"mid-stream", ciphertext.substr(0, ciphertext.size() / 2), true},
          {"before commit", ciphertext, true}}},
        {"rsa decrypt --lines -o",
         {"rsa", "decrypt", "--key", privateKey, "--lines", "-o", kTarget},
         true,
         {{"before any output", "", false},
          {"mid-stream", firstLines(blockLines, 320), true},
          {"before commit", blocks, true}}},
        {"rsa decrypt -o", {"rsa", "decrypt", "--key", privateKey, "-o", kTarget}, true,
         {{"input given, not its end", blockLines[0], false}}},
        {"envelope open --lines --jobs 2 -o",
         {"envelope", "open", "--key", privateKey, "--lines", "--jobs", "2", "-o", kTarget},
         true,
         {{"before any output", "", false},
          {"mid-stream", firstLines(envelopeLines, 320), true},
          {"before commit", envelopes, true}}},
        {"rsa key --private -o", {"rsa", "key", "--private", "-o", kTarget, "-"}, true,
         {{"input given, not its end", keyFile, false}}},
        {"rsa keygen --out", {"rsa", "keygen", "--bits", "512", "--out", kTarget}, false,
         {{"before commit", "", true}}, true},
        {"rsa keygen --out --force", {"rsa", "keygen", "--bits", "512", "--out", kTarget, "--force"}, true,
         {{"before commit", "", true}}, true},
    };

    ScopedEnvironment environment;
    environment.set("CORVANE_TOOL_CHUNK_SIZE", "4096");
    TempDir logs;
    std::ostringstream table;
    std::size_t runs = 0;
    for (const bool named : {false, true}) {
        if (!named && !makesUnnamedFiles(logs.path())) {
            std::cout << "[ interrupt ] the file system of " << logs.path()
                      << " makes no unnamed files: only the named path is tried\n";
            continue;
        }
        if (named)
            environment.set("CORVANE_TOOL_NO_TMPFILE", "1");
        else
            environment.unset("CORVANE_TOOL_NO_TMPFILE");
        for (const Command& command : commands) {
            for (const Point& point : command.points) {
                for (const int signal : kSignals) {
                    const std::string what = std::string(command.name) + ", " + point.name + ", SIG" +
                                             sigabbrev_np(signal) + (named ? ", named path" : ", unnamed path");
                    SCOPED_TRACE(what);
                    TempDir dir;
                    const std::string target = dir.file(kTarget);
                    if (command.existing) dir.write(kTarget, "kept");
                    const std::vector<std::string> before = entries(dir.path());
                    Args args = command.args;
                    std::replace(args.begin(), args.end(), std::string(kTarget), target);
                    const std::string errPath = logs.file("stderr");
                    HeldRun run(args, command.fullStdout, errPath);
                    run.feed(point.input);
                    ASSERT_TRUE(run.waitUntilHeld()) << slurp(errPath);

                    // On the named path the point can be seen: the temporary
                    // is there, and holds part of the result where one is made.
                    std::string pending = "unseen";
                    if (const std::optional<std::uintmax_t> size = unnamedFileSize(run.pid(), dir.path());
                        !named && size) {
                        EXPECT_EQ(*size > 0, point.resultStarted) << *size;
                        pending = "unnamed, " + std::to_string(*size) + " bytes";
                    }
                    if (named) {
                        std::vector<std::string> added;
                        for (const std::string& name : entries(dir.path()))
                            if (std::find(before.begin(), before.end(), name) == before.end()) added.push_back(name);
                        ASSERT_EQ(added.size(), 1u) << slurp(errPath);
                        EXPECT_EQ(writerOf(added[0]), run.pid()) << added[0];
                        const auto size = std::filesystem::file_size(dir.file(added[0]));
                        EXPECT_EQ(size > 0, point.resultStarted) << size;
                        pending = std::to_string(size) + " bytes";
                    }

                    const pid_t writer = run.pid();
                    EXPECT_EQ(run.stopWith(signal), signal) << slurp(errPath);
                    ++runs;
                    std::vector<std::string> left;
                    for (const std::string& name : entries(dir.path()))
                        if (std::find(before.begin(), before.end(), name) == before.end()) left.push_back(name);
                    if (command.existing) {
                        EXPECT_EQ(slurp(target), "kept");
                    }
                    std::string removedBy;
                    if (named && signal == SIGKILL) {
                        // What nothing can catch: one temporary, the writer's,
                        // mode 0600, removed by the next run into the folder.
                        ASSERT_EQ(left.size(), 1u);
                        EXPECT_EQ(writerOf(left[0]), writer) << left[0];
                        struct stat info {};
                        ASSERT_EQ(::stat(dir.file(left[0]).c_str(), &info), 0);
                        EXPECT_EQ(info.st_mode & 0777, 0600u);
                        const RunResult next = corvane({"rsa", "key", "-o", dir.file("other"), publicKey});
                        EXPECT_EQ(next.exitStatus, 0) << next.err;
                        std::vector<std::string> expected = before;
                        expected.push_back("other");
                        std::sort(expected.begin(), expected.end());
                        EXPECT_EQ(entries(dir.path()), expected);
                        removedBy = ", removed by the next run";
                    } else {
                        EXPECT_EQ(left, std::vector<std::string>{});
                    }
                    table << "[ interrupt ] " << what << ": pending " << pending << "; " << left.size()
                          << " file(s) left" << removedBy << "\n";
                }
            }
        }
    }
    std::cout << table.str() << "[ interrupt ] " << runs << " runs\n";
}

}  // namespace
