// Lines processed in groups on worker threads and written in input order,
// for the commands that treat each line as an item (envelope ... --lines).
//
// This thread reads a group of lines, hands it to one of `jobs` workers, and
// writes the groups back in the order they were read. At most 2 * jobs
// groups are in flight, so memory stays bounded by the group size and the
// line limit, whatever the input's length. With one job no thread is
// started. Lines and outputs may be secrets: both are wiped once written.
//
// A review, when given, sees every line in input order on this thread
// before it is written (to count outcomes, list bad lines, or stop a run
// that is going wrong); the reading's progress, when the reader shows it,
// counts the lines written.
#ifndef CORVANE_TOOL_ORDERED_GROUPS_H
#define CORVANE_TOOL_ORDERED_GROUPS_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/corvane/io/line_reader.h"

namespace corvane::tool {

struct LineGroup {
    std::vector<std::string> lines;
    std::vector<char> tooLong;  // per line: longer than the reader's limit (the line is then empty)
    // Filled by the work, one per line: the text to write (without its line
    // feed), or where error is not empty, "error: <error>" is written instead.
    std::vector<std::string> outputs;
    std::vector<std::string> errors;
    // Also filled by the work, both optional: per bad line the short reason
    // its message on standard error gives ("wrapped key refused"; errors[i]
    // when empty), and per line a tag of the work's own for the review.
    std::vector<std::string> reasons;
    std::vector<std::uint8_t> tags;

    // The reason reported for line i.
    const std::string& reason(std::size_t i) const { return reasons[i].empty() ? errors[i] : reasons[i]; }

    void resize(std::size_t count);
    void wipe();
    ~LineGroup() { wipe(); }
};

// The work on one group; worker is 0 to jobs - 1, the same for every group
// a thread runs, so that per-thread state (a random pool) can be kept by it.
using GroupWork = std::function<void(LineGroup& group, std::size_t worker)>;

// Looks at line index of group, numbered lineNumber from 1 in the input,
// once the work is done and before the line is written. false stops the
// run: this line is written, no line after it, and no more is read.
using LineReview = std::function<bool(const LineGroup& group, std::size_t index, std::uint64_t lineNumber)>;

// What a run did.
struct OrderedRun {
    std::uint64_t lines = 0;     // lines written
    std::uint64_t badLines = 0;  // of them, lines with an error
    bool stopped = false;        // the review stopped the run

    bool allGood() const { return badLines == 0 && !stopped; }
};

// Bad lines reported one by one on standard error; the rest are only
// counted (the command's summary gives the count).
constexpr std::size_t kLineMessagesShown = 10;

// Reads every line of the reader, groupSize at a time, runs work on each
// group, and writes each line's output or error in order. The first
// kLineMessagesShown bad lines are also reported on standard error as
// "corvane: <command>: <input>, line N: <reason>", then one line says that
// the others are counted only. A failure thrown by the work (out of memory)
// is thrown here when its group's turn comes. The final progress line, if
// any, is written before this returns.
OrderedRun runOrderedGroups(LineReader& reader, std::size_t groupSize, std::size_t jobs, const GroupWork& work,
                            const std::string& command, const LineReview& review = {});

}  // namespace corvane::tool

#endif
