// Streaming for the commands that code data of any size (base64, des3):
// read the input in bounded pieces, pass each through a chain of stages,
// write what comes out. Every stage is a ByteSink that holds at most a few
// bytes of state between pieces (a partial group or block), so memory stays
// bounded by the piece size whatever the input's length.
#ifndef CORVANE_TOOL_CHUNKED_IO_H
#define CORVANE_TOOL_CHUNKED_IO_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "tools/corvane/io/io.h"

namespace corvane::tool {

// One stage of a chain. write() may be called with pieces of any size,
// including empty ones; finish() is called once, after the last piece, and
// passes finish() on down the chain. Failures are thrown as ToolError.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(std::span<const std::uint8_t> bytes) = 0;
    virtual void finish() = 0;
};

// The end of a chain: standard output, through the checked writes of io.h,
// made on a thread of its own so that writing overlaps reading and coding
// (on a file or a pipe the write costs as much as the coding). Output is
// gathered into a buffer of about a chunk; a full buffer is handed to the
// writer while the next one fills. A failed write is thrown from the next
// write() or from finish(), on the calling thread, once.
class StdoutSink final : public ByteSink {
public:
    StdoutSink();
    // Stops the writer; output not yet handed over by finish() is dropped
    // (the chain failed).
    ~StdoutSink() override;
    StdoutSink(const StdoutSink&) = delete;
    StdoutSink& operator=(const StdoutSink&) = delete;

    void write(std::span<const std::uint8_t> bytes) override;
    // Hands over the rest and waits until everything is written.
    void finish() override;

private:
    void handOver();
    void waitForWriter(std::unique_lock<std::mutex>& lock);
    void writerLoop();

    Bytes filling_;
    Bytes writing_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool busy_ = false;  // writing_ holds output the writer has not written yet
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::thread writer_;
};

// A stage that holds back the first bytes that pass (all of a shorter
// input) and has judge() look at them before anything goes on: the check
// of an input's or an output's form, made before a byte is written. What
// follows them passes unchecked. The held bytes are wiped.
class HeadCheck : public ByteSink {
public:
    // The room is taken at once: a growing buffer would leave copies of the
    // bytes (a plaintext, for some checks) in freed memory.
    HeadCheck(std::size_t length, ByteSink& out) : length_(length), out_(out) { head_.reserve(length); }
    ~HeadCheck() override;
    void write(std::span<const std::uint8_t> bytes) override;
    void finish() override;

protected:
    // Throws (a ToolError) to refuse; whole says that the input ended
    // within those bytes.
    virtual void judge(std::span<const std::uint8_t> head, bool whole) = 0;

private:
    void release(bool whole);

    std::size_t length_;
    ByteSink& out_;
    Bytes head_;
    bool released_ = false;
};

// The end of a chain that keeps everything, for short texts coded in one
// piece (an RSA block and its Base64).
class MemorySink final : public ByteSink {
public:
    void write(std::span<const std::uint8_t> bytes) override {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }
    void finish() override {}
    Bytes& bytes() { return bytes_; }

private:
    Bytes bytes_;
};

// A stream read in pieces that counts the bytes it hands out and, when
// asked, shows the progress on standard error: bytes done, of how many when
// the input is a regular file, the rate and the time left. On a terminal
// the line is redrawn in place (a carriage return before it) at most four
// times a second; elsewhere (a log file, a pipe) a plain line is written at
// most every five seconds, so that no carriage return reaches a log.
// finish() writes the final line, with its line feed. The file stays the
// caller's.
//
// A reader of items (the lines of envelope ... --lines) names them in
// items ("records"): the line then leads with the items done, as counted
// by countItems, and their rate; the time left still comes from the bytes.
class CountingReader {
public:
    CountingReader(std::FILE* file, std::string name, bool progress, std::string items = {});
    // Ends a progress line left open by a failure, so that the message that
    // follows starts a line of its own.
    ~CountingReader();
    CountingReader(const CountingReader&) = delete;
    CountingReader& operator=(const CountingReader&) = delete;

    // fread into buffer: the bytes read (fewer only at the end or on an
    // error; std::ferror tells which).
    std::size_t read(std::span<std::uint8_t> buffer);
    // The final progress line (nothing without progress).
    void finish();
    std::uint64_t count() const { return count_; }

    // Adds count items done; redraws when a redraw is due.
    void countItems(std::uint64_t count);
    // Clears a line drawn in place on the terminal, so that a message can
    // take its place; the next redraw puts it back.
    void clearLine();

private:
    void draw(bool final);
    void drawIfDue();

    std::FILE* file_;
    std::string name_;
    bool progress_;
    bool inPlace_;  // standard error is a terminal
    std::optional<std::uint64_t> total_;
    std::uint64_t count_ = 0;
    std::string items_;  // the items' name, empty when only bytes are counted
    std::uint64_t itemCount_ = 0;
    std::chrono::steady_clock::time_point start_, lastDraw_;
    std::size_t drawnWidth_ = 0;  // of the line now on the terminal, 0 for none
};

// The description of --progress, for the commands that take it.
extern const char kProgressHelp[];

// The size of the pieces read: 1 MiB. The environment variable
// CORVANE_TOOL_CHUNK_SIZE (a byte count, 1 or more) sets another size; it
// exists so that tests can put a piece boundary at every offset.
std::size_t chunkSize();

// Reads the input (FILE, or standard input when none is named or for "-")
// in pieces of chunkSize() bytes, hands each to sink, then calls
// sink.finish(). A file that cannot be opened or read is a failure (exit
// status 1) naming it and the cause. The read buffer is wiped afterwards:
// it may have held plaintext. progress shows the reading's progress (see
// CountingReader).
void pumpInput(const std::vector<std::string>& files, ByteSink& sink, bool progress = false);

}  // namespace corvane::tool

#endif
