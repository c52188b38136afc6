// Results that reach their file whole or not at all. A result is written to
// a file made beside its final place ("<path>.XXXXXX", mode 0600, since it
// may be secret), flushed to the disk, and renamed over the path only once
// the command has succeeded; on any failure the file is removed and the
// path is left as it was. rsa keygen's key file and every command's
// -o/--output FILE go this way.
#ifndef CORVANE_TOOL_OUTPUT_FILE_H
#define CORVANE_TOOL_OUTPUT_FILE_H

#include <array>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "tools/corvane/options/options.h"

namespace corvane::tool {

class PendingFile {
public:
    // Creates the temporary file; a failure names path.
    explicit PendingFile(const std::string& path);
    // Removes the temporary file unless it was committed.
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    int descriptor() const { return fd_; }
    // Writes the bytes straight to the file.
    void writeAll(std::span<const std::uint8_t> bytes);
    // Flushes the file to the disk and closes it.
    void close();
    // Moves the closed file into place: over an existing one with replace,
    // else only where no file is (one that appeared since is kept, and the
    // failure says to give --force).
    void commit(bool replace);

private:
    [[noreturn]] void fail() const;

    std::string path_;
    std::string temporary_;
    int fd_ = -1;
    bool committed_ = false;
};

// -o/--output FILE: while the object lives, the tool's output (io.h) goes
// to a PendingFile for FILE through a stdio buffer of its own, wiped when
// done; commit() puts the file in place. Standard output is used as before
// when no FILE (or "-") is given.
class OutputFile {
public:
    explicit OutputFile(const std::optional<std::string>& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void commit();

private:
    void closeStream() noexcept;

    std::optional<PendingFile> file_;
    std::FILE* stream_ = nullptr;
    std::FILE* previous_ = nullptr;
    std::array<char, BUFSIZ> buffer_{};
};

// Declares -o/--output FILE.
void declareOutput(Options& options, std::optional<std::string>& output);

// Runs the command's body with its output going to FILE, when given, and
// puts FILE in place only when the body returns success.
int runWithOutput(const std::optional<std::string>& output, const std::function<int()>& body);

// What a command's help says of its output, after its description.
extern const char kOutputHelp[];

}  // namespace corvane::tool

#endif
