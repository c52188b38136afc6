// Results that reach their file whole or not at all, and leave nothing
// behind when the tool is stopped half-way. A result is written to a file
// of its own in its target's folder (mode 0600, since it may be secret),
// flushed to the disk, and given the target's name only once the command
// has succeeded; on any failure it goes and the target is left as it was.
//
// The file has no name while it is written (O_TMPFILE): whatever stops the
// tool, SIGKILL included, the kernel frees it with the process. Where the
// file system cannot make unnamed files (or CORVANE_TOOL_NO_TMPFILE=1 asks
// for this path, for the tests) it is written under a hidden name
// (temporary_names.h) that SIGINT, SIGTERM, SIGHUP and SIGQUIT remove
// (removal_on_signal.h) and that, after a SIGKILL, the next run of the tool
// writing into that folder removes. Replacing a file links the finished one
// to a hidden name and renames that over the target, so that readers see
// the old file or the new one, never neither. rsa keygen's key file and
// every command's -o/--output FILE go this way.
#ifndef CORVANE_TOOL_OUTPUT_FILE_H
#define CORVANE_TOOL_OUTPUT_FILE_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tools/corvane/io/removal_on_signal.h"
#include "tools/corvane/options/options.h"

namespace corvane::tool {

class PendingFile {
public:
    // Creates the file in path's folder, after removing the temporaries
    // that killed runs left there; a failure names path.
    explicit PendingFile(const std::string& path);
    // Removes the file unless it was committed.
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    int descriptor() const { return fd_; }
    // Whether the file has no name until commit (false on the fallback path).
    bool unnamed() const { return unnamed_; }
    // Writes the bytes straight to the file.
    void writeAll(std::span<const std::uint8_t> bytes);
    // Flushes the file to the disk; no writes after it.
    void close();
    // Gives the closed file path's name: over an existing file with
    // replace, else only where no file is (one that appeared since is
    // kept, and the failure says to give --force).
    void commit(bool replace);

private:
    [[noreturn]] void fail() const;
    [[noreturn]] void failWith(int error) const;
    void openNamed();
    void linkAs(const std::string& name);
    void commitUnnamed(bool replace);
    void commitNamed(bool replace);
    void closeDescriptor(int& fd);

    std::string path_;       // as given, for messages
    std::string name_;       // the target's name in its folder
    int directory_ = -1;     // the target's folder
    int fd_ = -1;            // the file, for writing
    int hold_ = -1;          // fallback: keeps the temporary's lock until its name goes
    bool unnamed_ = false;
    std::string temporary_;  // a hidden name of the file now, if any
    RemovalOnSignal removal_;
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

// --quarantine FILE of the --lines jobs: one line per bad input line,
// "FILE<TAB>LINE<TAB>REASON<TAB>INPUT", with FILE the input's name as
// given ("-" for standard input), LINE counted from 1 in it, REASON a
// short reason and INPUT the line's bytes as read, without its line feed
// (empty for a line too long to keep, or for an input that may be secret).
// A PendingFile (mode 0600): put in place by commit(), whole, even when
// empty, replacing an older one; gone when the job fails first.
class QuarantineFile {
public:
    QuarantineFile(const std::string& path, std::string input);
    QuarantineFile(const QuarantineFile&) = delete;
    QuarantineFile& operator=(const QuarantineFile&) = delete;

    void add(std::uint64_t line, const std::string& reason, std::string_view text);
    void commit();

private:
    void writeBuffer();

    PendingFile file_;
    std::string input_;
    std::string buffer_;
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
