// The writer behind every -o FILE and rsa keygen's key file, in-process, on
// both of its paths (an unnamed file linked into place, and the hidden
// named temporary where unnamed files are refused): the result appears
// whole, mode 0600, under its name only; no-replace keeps a file that is
// there; a writer dropped before commit leaves the folder as it was; and
// the temporaries of killed runs, and only those, are removed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/cli/cli_run.h"
#include "tests/support/test_support.h"
#include "tools/corvane/io/output_file.h"
#include "tools/corvane/io/temporary_names.h"
#include "tools/corvane/tool_error.h"

namespace {

using namespace corvane::tool;
using corvane::test::TempDir;

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The message of the ToolError that body throws; nullopt when it throws none.
template <typename Body>
std::optional<std::string> failureOf(Body body) {
    try {
        body();
    } catch (const ToolError& error) {
        return error.what();
    }
    return std::nullopt;
}

enum class Path { unnamed, named };

class ToolOutputFile : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override {
        if (GetParam() == Path::named) {
            ::setenv("CORVANE_TOOL_NO_TMPFILE", "1", 1);
            return;
        }
        ::unsetenv("CORVANE_TOOL_NO_TMPFILE");
        const int probe = ::open(dir.path().c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (probe < 0) GTEST_SKIP() << "the file system of " << dir.path() << " makes no unnamed files";
        ::close(probe);
    }
    void TearDown() override { ::unsetenv("CORVANE_TOOL_NO_TMPFILE"); }

    // What the folder holds beside the names given, while a file is pending:
    // nothing on the unnamed path, one temporary of this process otherwise.
    void expectPendingLeavesOnly(const std::vector<std::string>& names) {
        std::vector<std::string> others;
        for (const std::string& name : entries(dir.path()))
            if (std::find(names.begin(), names.end(), name) == names.end()) others.push_back(name);
        if (GetParam() == Path::unnamed) {
            EXPECT_EQ(others, std::vector<std::string>{});
            return;
        }
        ASSERT_EQ(others.size(), 1u);
        EXPECT_EQ(temporaryWriter(others[0]), ::getpid()) << others[0];
        struct stat info {};
        ASSERT_EQ(::stat(dir.file(others[0]).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }

    TempDir dir;
};

TEST_P(ToolOutputFile, TheResultAppearsWholeUnderItsNameOnly) {
    const std::string result(100000, 'r');
    for (bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "over an existing file" : "a new file");
        const std::string target = dir.file("out");
        if (existing) dir.write("out", "kept");
        // A wide-open umask: the file is the owner's all the same.
        const mode_t umaskBefore = ::umask(0);
        {
            PendingFile file(target);
            ::umask(umaskBefore);
            EXPECT_EQ(file.unnamed(), GetParam() == Path::unnamed);
            file.writeAll(bytesOf(result));
            file.close();
            expectPendingLeavesOnly(existing ? std::vector<std::string>{"out"} : std::vector<std::string>{});
            if (existing) {
                EXPECT_EQ(corvane::test::readTextFile(target), "kept");
            }
            file.commit(true);
        }
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out"});
        EXPECT_EQ(corvane::test::readTextFile(target), result);
        struct stat info {};
        ASSERT_EQ(::stat(target.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        ::unlink(target.c_str());
    }
}

TEST_P(ToolOutputFile, WithoutReplaceOrCommitTheFolderStaysAsItWas) {
    const std::string target = dir.write("out", "kept");
    const auto refused = failureOf([&] {
        PendingFile file(target);
        file.writeAll(bytesOf("new"));
        file.close();
        file.commit(false);
    });
    EXPECT_EQ(refused, target + " exists; give --force to replace it");
    { PendingFile dropped(target); }
    EXPECT_EQ(failureOf([&] {
                  PendingFile written(target);
                  written.writeAll(bytesOf("new"));
                  failure("the command failed");
              }),
              "the command failed");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out"});
    EXPECT_EQ(corvane::test::readTextFile(target), "kept");

    // Where no file is, no-replace gives the name.
    {
        PendingFile file(dir.file("new"));
        file.writeAll(bytesOf("new"));
        file.close();
        file.commit(false);
    }
    EXPECT_EQ(corvane::test::readTextFile(dir.file("new")), "new");
}

TEST_P(ToolOutputFile, NamesOfAnyLengthAndBadPathsAreNamedInFailures) {
    const std::string longest(255, 'n');
    {
        PendingFile file(dir.file(longest));
        file.writeAll(bytesOf("long"));
        file.close();
        file.commit(true);
    }
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{longest});
    ::unlink(dir.file(longest).c_str());
    const std::string missing = dir.file("no-folder") + "/out";
    EXPECT_EQ(failureOf([&] { PendingFile file(missing); }), missing + ": No such file or directory");
    EXPECT_EQ(failureOf([&] { PendingFile file(dir.path() + "/"); }), dir.path() + "/: Is a directory");
    // Nodes that are not files are never replaced: a folder, a pipe.
    ASSERT_EQ(::mkdir(dir.file("folder").c_str(), 0700), 0);
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    for (const char* node : {"folder", "pipe"})
        EXPECT_EQ(failureOf([&] { PendingFile file(dir.file(node)); }),
                  dir.file(node) + " is not a regular file; only a regular file is replaced");
}

INSTANTIATE_TEST_SUITE_P(BothPaths, ToolOutputFile, ::testing::Values(Path::unnamed, Path::named),
                         [](const ::testing::TestParamInfo<Path>& path) {
                             return path.param == Path::unnamed ? "Unnamed" : "Named";
                         });

TEST(ToolTemporaryNames, TheFormIsRecognisedAndNothingElse) {
    const std::string made = temporaryNameFor("result.bin");
    EXPECT_EQ(made.rfind(".result.bin.corvane-" + std::to_string(::getpid()) + "-", 0), 0u) << made;
    EXPECT_EQ(temporaryWriter(made), ::getpid());
    EXPECT_LE(temporaryNameFor(std::string(255, 'x')).size(), 255u);
    EXPECT_EQ(temporaryWriter(temporaryNameFor(std::string(255, 'x'))), ::getpid());
    const std::vector<std::pair<std::string, std::optional<pid_t>>> cases = {
        {".out.corvane-123-AbC9zZ", 123},
        {".a.corvane-b.corvane-77-aaaaaa", 77},
        {"out.corvane-123-AbC9zZ", std::nullopt},    // not hidden
        {".out.corvane-123-AbC9z", std::nullopt},    // five letters
        {".out.corvane-123-AbC9z!", std::nullopt},   // not a letter
        {".out.corvane--AbC9zZ", std::nullopt},      // no process id
        {".out.corvane-0123-AbC9zZ", std::nullopt},  // not as written
        {".out.corvane-12a-AbC9zZ", std::nullopt},
        {".out.corvane-99999999999-AbC9zZ", std::nullopt},
        {".corvane-123-AbC9zZ", std::nullopt},  // no target name
        {".out.corvane-123-AbC9zZ.bak", std::nullopt},
        {".out.XXXXXX", std::nullopt},
    };
    for (const auto& [name, writer] : cases) EXPECT_EQ(temporaryWriter(name), writer) << name;
}

// The pid of a process that has ended.
pid_t endedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

TEST(ToolTemporaryNames, OnlyTemporariesWhoseWriterIsGoneAreRemoved) {
    TempDir dir;
    const std::string dead = std::to_string(endedProcess());
    const std::string abandoned = ".out.corvane-" + dead + "-aaaaaa";
    const std::string locked = ".out.corvane-" + dead + "-bbbbbb";
    const std::string live = temporaryNameFor("out");
    const std::string folder = ".dir.corvane-" + dead + "-cccccc";
    const std::vector<std::string> kept = {".out.corvane-" + dead + "-aaaaa", "out.corvane-" + dead + "-aaaaaa",
                                           "other"};
    for (const std::string& name : {abandoned, locked, live}) dir.write(name, "plaintext");
    for (const std::string& name : kept) dir.write(name, "plaintext");
    ASSERT_EQ(::mkdir(dir.file(folder).c_str(), 0700), 0);
    // A writer on another machine that shares the folder: its process id
    // means nothing here, but it holds the lock.
    const int holder = ::open(dir.file(locked).c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    holdTemporary(holder);

    { PendingFile file(dir.file("new")); }
    std::vector<std::string> expected = {folder, locked, live};
    expected.insert(expected.end(), kept.begin(), kept.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries(dir.path()), expected);
    ::close(holder);
    { PendingFile file(dir.file("new")); }
    std::erase(expected, locked);
    EXPECT_EQ(entries(dir.path()), expected);
}

}  // namespace
