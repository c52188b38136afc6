// A text stream read one line at a time in bounded memory, for the commands
// that treat each line as an item of its own (rsa ... --lines).
#ifndef CORVANE_TOOL_LINE_READER_H
#define CORVANE_TOOL_LINE_READER_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/corvane/io/chunked_io.h"

namespace corvane::tool {

// Lines end at a line feed; a carriage return just before it is dropped (a
// file written with CRLF line ends reads the same), and the last line may
// lack its line feed. A line longer than maxLength is reported as too long:
// its bytes are read past, never kept, so memory stays bounded whatever the
// input holds. The input is read in pieces of chunkSize() bytes (so tests
// can put a piece boundary anywhere in a line); the read buffer is wiped
// when the reader goes (lines may be plaintext).
class LineReader {
public:
    // Opens path ("-" is standard input); a file that cannot be opened is a
    // failure (exit status 1) naming it and the cause.
    // With progress, the reading's progress is shown on standard error as
    // CountingReader shows it, its lines counted as "records" by linesDone.
    LineReader(const std::string& path, std::size_t maxLength, bool progress = false);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line into line (its old bytes wiped first, its capacity
    // kept); false at the end of the input. tooLong says that the line was
    // longer than maxLength (line is then empty). A read error is a failure
    // naming the input.
    bool next(std::string& line, bool& tooLong);

    // "standard input" or the path, for messages.
    const std::string& name() const { return name_; }

    // The caller has finished count more lines (progress counts those, not
    // the lines read ahead); clearProgress makes room on a terminal for a
    // message, finishProgress writes the final progress line.
    void linesDone(std::uint64_t count) { counter_->countItems(count); }
    void clearProgress() { counter_->clearLine(); }
    void finishProgress() { counter_->finish(); }

private:
    bool fill();

    std::FILE* file_;
    std::string name_;
    std::size_t maxLength_;
    std::vector<char> buffer_;
    std::optional<CountingReader> counter_;  // reads file_; set once file_ is open
    std::size_t begin_ = 0, end_ = 0;  // the unread bytes of buffer_
};

}  // namespace corvane::tool

#endif
